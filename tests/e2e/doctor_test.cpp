// ostrel-tool.exe doctor under Wine, after a demo-like run: a player's folder
// (the plain hostsim patched by the tool, ostrel.dll, logs\ostrel) whose game
// has started and looked a name up through the reference lookup service, so
// that the real per-user folder holds its cache file.  Then the double-click
// run, its answers on standard input, and the command prompt's usage.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "deploy_values.h"
#include "ostrel_version.h"
#include "service/lookup_service.h"
#include "wine_host.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;
using bytes_t = std::vector<uint8_t>;

bytes_t read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return bytes_t(std::istreambuf_iterator<char>(in), {});
}

// Runs "wine <command>" in dir in a console of the program's own, as Explorer gives a
// double-clicked console program: Wine makes one on a terminal, so the
// command runs on a pseudo-terminal (script).  Wine's console draws the
// output a character at a time between escape sequences; what comes back is
// its text without them and without blanks.  The console empties its input
// when it starts, so each answer is typed once the output shows its
// question (answers: text to wait for, blank-less, and the keys; Enter is a
// carriage return on the raw terminal, as a keyboard sends it).  A program
// that waits for more ends after 5 minutes.
int wine_console(const std::string& dir, const std::string& command,
                 const std::vector<std::pair<std::string, std::string>>& answers,
                 std::string* out) {
  const std::string out_file = dir + "/../e2e-doctor-console.txt";
  const std::string tty_file = dir + "/../e2e-doctor-console.tty";
  const std::string script = dir + "/../e2e-doctor-console.sh";
  // Keys typed while the terminal is still in line mode are echoed and held
  // as a line, and Enter arrives as a line feed the console does not take
  // for Enter: on a loaded machine the question can show before Wine's
  // console has put the terminal in raw mode, so each answer waits for that.
  std::string feed;
  for (const auto& [question, keys] : answers)
    feed += "  n=0; until strip | grep -qF -- '" + question +
            "' && raw; do sleep 1; n=$((n+1)); [ $n -lt 240 ] || exit 0; done; printf '" + keys + "'\n";
  std::ofstream(script) << "out='" << out_file << "'\n"
                        << "strip() { sed 's/\\x1b\\[[0-9;?]*[A-Za-z]//g' \"$out\" 2>/dev/null | tr -d ' \\t\\r\\n'; }\n"
                        << "raw() { t=$(cat '" << tty_file << "' 2>/dev/null) && [ -n \"$t\" ] && "
                        << "stty -F \"$t\" -a 2>/dev/null | grep -qw -- -icanon; }\n"
                        << "feed() {\n" << feed << "  sleep 5\n}\n"
                        << "rm -f '" << tty_file << "'\n"
                        << "cd '" << dir << "' && feed | timeout 300 script -qec 'tty > \"" << tty_file
                        << "\"; wine " << command << "' /dev/null > \"$out\" 2>&1\n";
  int status = -1;
  run_capture("bash '" + script + "'", &status);
  const bytes_t text = read_all(out_file);
  const std::string raw(text.begin(), text.end());
  fs::remove(out_file);
  fs::remove(tty_file);
  fs::remove(script);
  out->clear();
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\x1b' && i + 1 < raw.size() && raw[i + 1] == '[') {
      i += 2;
      while (i < raw.size() && !std::isalpha(static_cast<unsigned char>(raw[i]))) ++i;
      continue;
    }
    if (!std::isspace(static_cast<unsigned char>(raw[i]))) *out += raw[i];
  }
  return status;
}

std::string blankless(std::string text) {
  text.erase(std::remove_if(text.begin(), text.end(),
                            [](unsigned char c) { return std::isspace(c); }),
             text.end());
  return text;
}

std::string fresh_folder(const std::string& name) {
  const std::string dir = std::string(OSTREL_BUILD_DIR) + "/" + name;
  fs::remove_all(dir);
  fs::create_directories(dir);
  for (const std::string& file :
       {plain_dir() + "/hostsim.exe", win_bin() + "/ostrel.dll", win_bin() + "/ostrel-tool.exe"})
    fs::copy_file(file, dir + "/" + fs::path(file).filename().string());
  return dir;
}

TEST(DoctorUnderWine, AfterAPlayersRun) {
  const std::string dir = fresh_folder("e2e-doctor-game");
  std::string out;
  ASSERT_EQ(wine_through_files(dir, "ostrel-tool.exe patch-exe hostsim.exe", "", &out), 0) << out;
  fs::create_directories(dir + "/logs/ostrel");

  in_addr address{};
  inet_pton(AF_INET, "10.20.30.40", &address);
  service::lookup_service lookup{deploy::lookup_chain, 29960};
  lookup.map_name("master.legacy.test", {address.s_addr});
  ASSERT_TRUE(lookup.start()) << "127.0.0.1:29960 is taken";
  {
    hostsim game;
    ASSERT_TRUE(game.start(dir));
    EXPECT_EQ(game.command("resolve master.legacy.test"),
              "ok name=master.legacy.test type=2 len=4 addrs=10.20.30.40 aliases=");
  }

  const int status = wine_through_files(dir, "ostrel-tool.exe doctor --network", "", &out);
  lookup.stop();
  EXPECT_EQ(status, 0) << out;
  for (const std::string& line : {
           std::string("ok      executable: hostsim.exe imports ostrel.dll (patched), backup "
                       "hostsim.exe.ostrel-backup beside it; mode: game client"),
           std::string("ok      ostrel.dll: a 32-bit DLL exporting the 35 functions, version " OSTREL_VERSION_TEXT
                       " (the tool's own)"),
           std::string("\\Ostrel exists and can be written"),
           std::string("(of hostsim.exe): verifies, 1 entries"),
           std::string("_hostsim.exe.log"),
           std::string("ok      network: the lookup service localhost (127.0.0.1) UDP 29960 answered in"),
           std::string("0 problem(s)")})
    EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
  EXPECT_EQ(out.find("ostrel-tool-doctor."), std::string::npos) << out;
  for (const auto& entry : fs::directory_iterator(dir))
    EXPECT_EQ(entry.path().filename().string().find("ostrel-tool-doctor"), std::string::npos);

  ASSERT_EQ(wine_through_files(dir, "ostrel-tool.exe doctor --json", "", &out), 0) << out;
  EXPECT_NE(out.find("\"problems\": 0"), std::string::npos) << out;
  fs::remove_all(dir);
}

// A player's folders named in their own language, the ANSI code page being
// Windows-1252 (Wine takes it from the locale: "C" and "C.UTF-8" stand for
// en-US, whose code page it is; names on the Unix side are UTF-8): the game
// under "C:\Program Files\Spielé", the per-user folders under "C:\users\Jörg".
// The doctor finds the patched executable, ostrel.dll, the game's log, and
// the log's VirtualStore copy once the game's writes land there (as under UAC;
// Wine writes to Program Files itself, so the test moves the log).
// The shell folders are the run's shared prefix's: they are put back as they
// were however the test ends, or every later test loses its per-user folder.
TEST(DoctorUnderWine, FoldersNamedInTheCodePage) {
  struct locale_for_wine {
    locale_for_wine() : had(std::getenv("LC_ALL") != nullptr), saved(had ? std::getenv("LC_ALL") : "") {
      setenv("LC_ALL", "C.UTF-8", 1);
    }
    ~locale_for_wine() { had ? setenv("LC_ALL", saved.c_str(), 1) : unsetenv("LC_ALL"); }
    bool had;
    std::string saved;
  } locale;
  const std::string user = "C:\\users\\J\xc3\xb6rg\\AppData";  // UTF-8, as passed to Wine
  const std::string game = unix_path("C:\\Program Files\\Spiel\xc3\xa9");
  ASSERT_FALSE(game.empty());
  fs::remove_all(game);
  fs::create_directories(game + "/logs/ostrel");
  for (const std::string& file :
       {plain_dir() + "/hostsim.exe", win_bin() + "/ostrel.dll", win_bin() + "/ostrel-tool.exe"})
    fs::copy_file(file, game + "/" + fs::path(file).filename().string());
  fs::create_directories(unix_path(user + "\\Roaming\\Ostrel"));
  fs::create_directories(unix_path(user + "\\Local"));
  std::string out;
  struct shell_folders_restored {
    std::string dir;
    ~shell_folders_restored() {
      std::string said;
      wine_through_files(dir, "reg import 'C:\\e2e-shell-folders.reg'", "", &said);
      fs::remove(unix_path("C:\\e2e-shell-folders.reg"));
    }
  };
  ASSERT_EQ(wine_through_files(game,
                               "reg export 'HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer' "
                               "'C:\\e2e-shell-folders.reg' /y",
                               "", &out),
            0) << out;
  const shell_folders_restored restore{unix_path("C:\\")};
  for (const char* key : {"User Shell Folders", "Shell Folders"})
    for (const auto& [value, folder] : {std::pair{"AppData", "Roaming"}, std::pair{"Local AppData", "Local"}})
      ASSERT_EQ(wine_through_files(game,
                                   std::string("reg add 'HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\"
                                               "Explorer\\") + key + "' /v '" + value + "' /d '" +
                                       user + "\\" + folder + "' /f",
                                   "", &out),
                0) << out;
  ASSERT_EQ(wine_through_files(game, "ostrel-tool.exe patch-exe hostsim.exe", "", &out), 0) << out;
  {
    // A game client logs only what the ranked list and the log echo do:
    // today's log as the library names and writes it.
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char name[64];
    std::strftime(name, sizeof name, "%Y-%m-%d_hostsim.exe.log", &utc);
    std::ofstream(game + "/logs/ostrel/" + name, std::ios::binary)
        << "--- Log started ---\r\n(1) 10:00:00 > ranked list: 3 servers\r\n";
  }

  // What the doctor prints is ANSI text; it spells a byte past ASCII \xNN.
  const std::string user_shown = "C:\\users\\J\\xf6rg\\AppData";
  const std::string store_logs = user_shown + "\\Local\\VirtualStore\\Program Files\\Spiel\\xe9\\logs\\ostrel";
  EXPECT_EQ(wine_through_files(game, "ostrel-tool.exe doctor", "", &out), 0) << out;
  for (const std::string& line :
       {std::string("ok      executable: hostsim.exe imports ostrel.dll (patched), backup "
                    "hostsim.exe.ostrel-backup beside it; mode: game client"),
        std::string("ok      ostrel.dll: a 32-bit DLL exporting the 35 functions, version " OSTREL_VERSION_TEXT
                    " (the tool's own)"),
        user_shown + "\\Roaming\\Ostrel exists and can be written",
        std::string("_hostsim.exe.log, "),
        "redirects the writes of a 32-bit game without a manifest to " + store_logs,
        std::string("0 problem(s)")})
    EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;

  const std::string store = unix_path(user + "\\Local\\VirtualStore\\Program Files\\Spiel\xc3\xa9\\logs\\ostrel");
  fs::create_directories(store);
  for (const auto& entry : fs::directory_iterator(game + "/logs/ostrel"))
    fs::rename(entry.path(), store + "/" + entry.path().filename().string());
  fs::remove(game + "/logs/ostrel");
  fs::remove(game + "/logs");
  EXPECT_EQ(wine_through_files(game, "ostrel-tool.exe doctor", "", &out), 0) << out;
  EXPECT_NE(out.find("hostsim.exe: " + store_logs + "\\"), std::string::npos) << out;
  EXPECT_EQ(out.find("logging is off"), std::string::npos) << out;

  fs::remove_all(game);
  fs::remove_all(unix_path("C:\\users\\J\xc3\xb6rg"));
}

// Explorer starts the tool in a console of its own: the doctor on its own
// folder, the offer to patch, the wait for Enter.  From a command prompt the
// console is shared, and the tool prints its usage.
TEST(DoctorUnderWine, DoubleClickPatchesOnYes) {
  const std::string dir = fresh_folder("e2e-doctor-click");
  const bytes_t original = read_all(dir + "/hostsim.exe");
  std::string out;

  wine_console(dir, "ostrel-tool.exe", {{"(y/n)", "n\\r"}, {"PressEnter", "\\r"}}, &out);
  EXPECT_NE(out.find(blankless("hostsim.exe still imports WS2_32.dll. Patch it now")),
            std::string::npos) << out;
  EXPECT_NE(out.find("Nothingchanged."), std::string::npos) << out;
  EXPECT_EQ(read_all(dir + "/hostsim.exe"), original);
  EXPECT_FALSE(fs::exists(dir + "/hostsim.exe.ostrel-backup"));

  EXPECT_EQ(wine_console(dir, "ostrel-tool.exe", {{"(y/n)", "y\\r"}, {"PressEnter", "\\r"}}, &out),
            0) << out;
  EXPECT_NE(out.find("nowimportsostrel.dll"), std::string::npos) << out;
  EXPECT_NE(out.find(blankless("Press Enter to close this window.")), std::string::npos) << out;
  EXPECT_EQ(read_all(dir + "/hostsim.exe.ostrel-backup"), original);
  EXPECT_NE(read_all(dir + "/hostsim.exe"), original);

  // A command prompt shares its console: the usage line as ever, and no question.
  fs::remove(dir + "/hostsim.exe");
  fs::rename(dir + "/hostsim.exe.ostrel-backup", dir + "/hostsim.exe");
  const int status = wine_console(dir, "cmd /c ostrel-tool.exe", {}, &out);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << status << out;
  EXPECT_NE(out.find(blankless("ostrel-tool: A subcommand is required (see --help)")),
            std::string::npos) << out;
  EXPECT_EQ(out.find("PressEnter"), std::string::npos) << out;
  EXPECT_EQ(read_all(dir + "/hostsim.exe"), original);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace e2e
