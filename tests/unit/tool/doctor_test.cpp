// ostrel-tool doctor: game folders built here (plain and patched executables,
// a server's path, ostrel.dll good and bad, the per-user folder's files, the
// registry, settings and log in each state) against the findings expected, in
// text and JSON; the double-click run with its answers; one exchange with a
// lookup service for --network.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "common/output.h"
#include "core/host_image.h"
#include "deploy_values.h"
#include "doctor/doctor_command.h"
#include "doctor/doctor_findings.h"
#include "doctor/doctor_gather.h"
#include "doctor/doctor_network.h"
#include "doctor/doctor_report.h"
#include "import_image.h"
#include "library_image.h"
#include "ostrel_exports.h"
#include "ostrel_version.h"
#include "pe/pe_imports.h"
#include "pe/pe_library.h"
#include "platform/native/test_controls.h"
#include "ranked/ranked_file.h"
#include "ranked_fixture.h"
#include "redirect/lookup_cache.h"
#include "redirect/lookup_request.h"
#include "scratch_dir.h"
#include "service/lookup_messages.h"
#include "service/lookup_service.h"
#include "snapshot/queue_file.h"
#include "tool_runner.h"

namespace {

using bytes_t = std::vector<uint8_t>;
using doctor::level;
namespace fs = std::filesystem;

constexpr uint32_t now = 1800000000;  // 2027-01-15 08:00:00 UTC

bytes_t text_bytes(const std::string& s) { return bytes_t(s.begin(), s.end()); }

bytes_t read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return bytes_t(std::istreambuf_iterator<char>(in), {});
}

bytes_t plain_exe() { return import_image::build({}); }

bytes_t patched_exe() {
  bytes_t f = plain_exe();
  pe::import_plan plan;
  std::string error;
  if (pe::plan_import_patch(f.data(), f.size(), plan, error) == 0)
    pe::apply_import_patch(f.data(), f.size(), plan);
  return f;
}

// The tag the library names an executable's cache files with.
std::string tag_of(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  uint8_t record[46];
  char tag[33] = "unknown";
  if (file) {
    core::compute_host_image_record(file, record, tag);
    std::fclose(file);
  }
  return tag;
}

// A cache file holding a signed answer of entries entries to a request made at time.
bytes_t cache_file(uint32_t time, size_t entries, const uint32_t* chain = deploy::lookup_chain) {
  const uint8_t id[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  const uint8_t record[46] = {46};
  redirect::lookup_request request;
  redirect::build_lookup_request(request, id, time, redirect::lookup_client_tag, record,
                                 deploy::lookup_chain);
  service::lookup_payload p;
  for (size_t i = 0; i < entries; ++i)
    p.add_record(0x00, 0x1000u + static_cast<uint32_t>(i), {},
                 {p.address_number(0x0100007Fu + static_cast<uint32_t>(i << 24))});
  const uint8_t nonce[8] = {9, 9, 9, 9, 1, 2, 3, 4};
  const bytes_t answer =
      service::build_lookup_answer(chain, request.id, request.time, request.tag, nonce, p.bytes());
  bytes_t file(redirect::lookup_cache_max_size);
  file.resize(redirect::format_cache(request, answer.data(), answer.size(), file.data()));
  return file;
}

bytes_t ranked_file(size_t servers) {
  std::vector<uint8_t> body = ranked_test::body_head(16567);
  for (size_t i = 0; i < servers; ++i) {
    const uint8_t address[4] = {192, 0, 2, static_cast<uint8_t>(i + 1)};
    ranked_test::add_record(body, 0x81, address);
  }
  const bytes_t blob = ranked_test::seal(body, ranked_test::nonce_of(3));
  bytes_t file = {'H', 'R', 'C', '1', 0, 0, 0, 0};
  bytes::store_u32le(file.data() + 4, static_cast<uint32_t>(blob.size()));
  file.insert(file.end(), blob.begin(), blob.end());
  return file;
}

// A queued snapshot as the library keeps it, with a body of 64 bytes.
bytes_t queue_file(uint32_t sequence, uint32_t submitted) {
  bytes_t file(snapshot::qf_body + 64, 0x5A);
  snapshot::format_queue_head(file.data(), sequence, submitted, 64, 4242, 0);
  return file;
}

std::string log_lines(int count) {
  std::string text = "--- Log started: 2027-01-15 07:00:00 ---\r\n";
  for (int i = 1; i <= count; ++i) text += "(77) 07:00:00 > line " + std::to_string(i) + "\r\n";
  return text;
}

struct expected {
  level mark;
  std::string topic;
  std::string text;  // a part of the finding's text
};

bool has(const std::vector<doctor::finding>& findings, const expected& e) {
  for (const doctor::finding& f : findings)
    if (f.mark == e.mark && f.topic == e.topic && f.text.find(e.text) != std::string::npos)
      return true;
  return false;
}

std::string listing(const std::vector<doctor::finding>& findings) {
  return doctor::report_text(findings);
}

class Doctor : public ::testing::Test {
 public:  // the case tables' builders reach the folder through these
  void SetUp() override {
    platform::test::set_appdata_folder((scratch_.path() + "/roaming").c_str());
    platform::test::registry_reset();
    platform::test::set_clock(now);
    game_ = scratch_.path() + "/game";
    fs::create_directories(game_);
  }
  void TearDown() override {
    platform::test::registry_reset();
    platform::test::use_real_clock();
  }
  std::string put(const std::string& relative, const bytes_t& bytes) {
    return scratch_.write("game/" + relative, bytes);
  }
  std::string user_file(const std::string& name, const bytes_t& bytes) {
    return scratch_.write("roaming/Ostrel/" + name, bytes);
  }
  // A patched game client with its backup, ostrel.dll of this version, the
  // per-user folder: the folder of a player for whom everything works.
  void working_client(const std::string& name = "game.exe") {
    put(name, patched_exe());
    put(name + ".ostrel-backup", plain_exe());
    put("ostrel.dll", library_image::build({}));
    fs::create_directories(scratch_.path() + "/roaming/Ostrel");
  }
  // A patched dedicated server's folder (its path holds "w32ded").
  void server(bool backup = true) {
    game_ = scratch_.path() + "/srv_w32ded";
    fs::create_directories(game_);
    put_server("server.exe", patched_exe());
    if (backup) put_server("server.exe.ostrel-backup", plain_exe());
    put_server("ostrel.dll", library_image::build({}));
  }
  void put_server(const std::string& relative, const bytes_t& bytes) {
    scratch_.write("srv_w32ded/" + relative, bytes);
  }
  std::vector<doctor::finding> run(const std::string& folder, size_t lines = 20) {
    return doctor::diagnose(doctor::gather_folder(folder, now), now, lines);
  }
  scratch_dir scratch_;
  std::string game_;
};

TEST_F(Doctor, FindingsOfGameFolders) {
  struct folder_case {
    std::string name;
    std::function<void(Doctor&)> make;
    std::vector<expected> findings;
    int status;
  };
  const std::vector<folder_case> cases = {
      {"plain executable: the patch is missing",
       [](Doctor& d) {
         d.put("game.exe", plain_exe());
         d.put("ostrel.dll", library_image::build({}));
       },
       {{level::problem, "executable", "game.exe imports WS2_32.dll: the game does not load"},
        {level::ok, "ostrel.dll", "exporting the 35 functions, version"},
        {level::warning, "per-user folder", "does not exist yet"}},
       1},
      {"everything in place",
       [](Doctor& d) { d.working_client(); },
       {{level::ok, "executable", "game.exe imports ostrel.dll (patched), backup"},
        {level::ok, "executable", "mode: game client"},
        {level::ok, "per-user folder", "exists and can be written"},
        {level::warning, "look-up cache", "none yet (written after the game's first look-up)"},
        {level::ok, "look-up cache", "(optional)"},
        {level::ok, "settings", "ostrel_game.exe.cfg: none"},
        {level::ok, "log", "logging is off: the library writes logs/ostrel/2027-01-15_game.exe.log "
                           "only when the folder logs\\ostrel exists"},
        {level::ok, "ranked list", "rankedservers: none"}},
       0},
      {"patched without a backup, a text file named .exe, another program",
       [](Doctor& d) {
         d.working_client();
         fs::remove(d.game_ + "/game.exe.ostrel-backup");
         d.put("readme.exe", text_bytes("not a program"));
         import_image::options other;
         other.dlls = {"KERNEL32.dll"};
         d.put("setup.exe", import_image::build(other));
       },
       {{level::warning, "executable", "but no backup game.exe.ostrel-backup"},
        {level::warning, "executable", "readme.exe: not a Windows executable (no MZ header)"}},
       0},
      {"no game executable, no ostrel.dll",
       [](Doctor& d) { d.put("notes.txt", text_bytes("x")); },
       {{level::problem, "executable", "no executable in"},
        {level::problem, "ostrel.dll", "not in"}},
       1},
      {"ostrel.dll cut short",
       [](Doctor& d) {
         d.working_client();
         bytes_t dll = library_image::build({});
         dll.resize(300);
         d.put("ostrel.dll", dll);
       },
       {{level::problem, "ostrel.dll", "not a 32-bit Windows DLL: truncated"}},
       1},
      {"ostrel.dll of another version",
       [](Doctor& d) {
         d.working_client();
         library_image::options old;
         old.own_version = false;
         old.file_version[0] = 0;
         old.file_version[1] = 0;
         old.file_version[2] = 9;
         d.put("ostrel.dll", library_image::build(old));
       },
       {{level::warning, "ostrel.dll", "version 0.0.9, this tool"}},
       0},
      {"a DLL that is not ostrel.dll",
       [](Doctor& d) {
         d.working_client();
         library_image::options other;
         other.all_exports = false;
         other.exports = {"accept", "bind"};
         d.put("ostrel.dll", library_image::build(other));
       },
       {{level::problem, "ostrel.dll", "exports 2 of the 35 Winsock functions; missing closesocket"}},
       1},
      {"a DLL without version resource",
       [](Doctor& d) {
         d.working_client();
         library_image::options bare;
         bare.version = false;
         d.put("ostrel.dll", library_image::build(bare));
       },
       {{level::warning, "ostrel.dll", "but it has no resources"}},
       0},
      {"an executable named ostrel.dll",
       [](Doctor& d) {
         d.working_client();
         library_image::options program;
         program.dll = false;
         d.put("ostrel.dll", library_image::build(program));
       },
       {{level::problem, "ostrel.dll", "not a 32-bit Windows DLL: an executable, not a DLL"}},
       1},
      {"dedicated server without provider ID",
       [](Doctor& d) {
         d.server();
         fs::create_directories(d.scratch_.path() + "/roaming/Ostrel");
       },
       {{level::ok, "executable", "mode: dedicated server (its path holds \"w32ded\")"},
        {level::problem, "provider ID", "no provider ID file"},
        {level::ok, "look-up cache", "(a dedicated server keeps none)"}},
       1},
      {"dedicated server with its provider ID",
       [](Doctor& d) {
         d.server();
         d.put_server("python/bf2/stats/ostrelProviderID.sec", text_bytes(" secret-provider\r\n"));
       },
       {{level::ok, "provider ID", "python/bf2/stats/ostrelProviderID.sec: 15 characters"}},
       0},
      {"dedicated server whose first provider ID file is empty",
       [](Doctor& d) {
         d.server(false);
         d.put_server("python/bf2/ostrel/ostrelProviderID.sec", text_bytes("\n"));
         d.put_server("python/bf2/stats/ostrelProviderID.sec", text_bytes("id"));
       },
       {{level::problem, "provider ID", "python/bf2/ostrel/ostrelProviderID.sec: empty"}},
       1},
      {"dedicated server whose queue folder is empty",
       [](Doctor& d) {
         d.server();
         d.put_server("python/bf2/stats/ostrelProviderID.sec", text_bytes("id"));
         fs::create_directories(d.scratch_.path() + "/roaming/Ostrel/snapshots");
       },
       {{level::ok, "statistics queue", "no snapshot waits"}},
       0},
      {"dedicated server with snapshots waiting for an hour, and a damaged one",
       [](Doctor& d) {
         d.server();
         d.put_server("python/bf2/stats/ostrelProviderID.sec", text_bytes("id"));
         d.user_file("snapshots/queued-00.hsq", queue_file(1, now - 3600));
         d.user_file("snapshots/queued-01.hsq", queue_file(2, now - 60));
         bytes_t torn = queue_file(3, now - 30);
         torn.resize(40);
         d.user_file("snapshots/queued-02.hsq", torn);
         d.user_file("snapshots/queued-03.hsq.bad", queue_file(4, now - 30));
       },
       {{level::warning, "statistics queue", "2 snapshot(s) wait, the oldest 60 min old: uploads"},
        {level::warning, "statistics queue", "2 file(s) set aside"}},
       0},
      {"dedicated server whose last snapshot waits a few seconds",
       [](Doctor& d) {
         d.server();
         d.put_server("python/bf2/stats/ostrelProviderID.sec", text_bytes("id"));
         d.user_file("snapshots/queued-00.hsq", queue_file(1, now - 5));
       },
       {{level::ok, "statistics queue", "1 snapshot(s) wait"}},
       0},
  };
  for (const folder_case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(scratch_.path());
    fs::create_directories(scratch_.path());
    game_ = scratch_.path() + "/game";
    fs::create_directories(game_);
    c.make(*this);
    const std::vector<doctor::finding> findings = run(game_);
    for (const expected& e : c.findings)
      EXPECT_TRUE(has(findings, e)) << e.text << "\n" << listing(findings);
    EXPECT_EQ(doctor::exit_status(findings), c.status) << listing(findings);
    for (const doctor::finding& f : findings) {
      if (f.mark == level::problem) {
        EXPECT_FALSE(f.hint.empty()) << f.text;
      }
      EXPECT_EQ(f.text.find("secret-provider"), std::string::npos) << "a credential shown";
    }
    // The JSON carries the same findings, with the same counts.
    const std::string json = doctor::report_json(game_, findings);
    for (const doctor::finding& f : findings)
      EXPECT_NE(json.find(tool::json_string(f.text)), std::string::npos) << f.text;
    const std::string text = doctor::report_text(findings);
    EXPECT_EQ(static_cast<size_t>(std::count(text.begin(), text.end(), '\n')), findings.size() + 1);
  }
}

TEST_F(Doctor, PerUserFilesInEachState) {
  working_client();
  const std::string tag = tag_of(game_ + "/game.exe");
  struct file_case {
    std::string name;
    bytes_t cache0, cache1, ranked;
    std::vector<expected> findings;
  };
  const uint32_t other_chain[4] = {1, 2, 3, 4};
  bytes_t cut = cache_file(now - 60, 2);
  cut.resize(cut.size() - 3);
  const std::vector<file_case> cases = {
      {"fresh and verified",
       cache_file(now - 3600, 3), cache_file(now - 20 * 3600, 1), ranked_file(2),
       {{level::ok, "look-up cache", "network_0_" + tag + " (of game.exe): verifies, 3 entries, 60 min old (limit 12 h)"},
        {level::ok, "look-up cache", "network_1_" + tag + " (of game.exe): verifies, 1 entries, 20 h 0 min old (limit 24 h)"},
        {level::ok, "ranked list", "rankedservers: verifies, 2 servers"}}},
      {"past their limits",
       cache_file(now - 13 * 3600, 3), cache_file(now - 25 * 3600, 1), {},
       {{level::warning, "look-up cache", "3 entries, 13 h 0 min old, past the library's 12 h"},
        {level::warning, "look-up cache", "1 entries, 25 h 0 min old, past the library's 24 h"}}},
      {"another deployment's, cut short, empty",
       cache_file(now - 60, 2, other_chain), cut, text_bytes(std::string("HRC1\x05\0\0\0abc", 11)),
       {{level::warning, "look-up cache", "does not verify with this tool's deployment keys"},
        {level::warning, "look-up cache", "its length field does not match its size"},
        {level::warning, "ranked list", "the library ignores it: its length field"}}},
      {"not theirs at all",
       text_bytes("hello"), bytes_t(5000, 0xFF), ranked_file(1),
       {{level::warning, "look-up cache", "not a look-up cache file"},
        {level::warning, "look-up cache", "not a look-up cache file"},
        {level::ok, "ranked list", "1 servers"}}},
  };
  for (const file_case& c : cases) {
    SCOPED_TRACE(c.name);
    user_file("network_0_" + tag, c.cache0);
    user_file("network_1_" + tag, c.cache1);
    user_file("rankedservers", c.ranked);
    const std::vector<doctor::finding> findings = run(game_);
    for (const expected& e : c.findings)
      EXPECT_TRUE(has(findings, e)) << e.text << "\n" << listing(findings);
    EXPECT_EQ(doctor::exit_status(findings), 0) << listing(findings);
  }
  // Nothing of the tool's own stays in the per-user folder.
  size_t files = 0;
  for (const auto& entry : fs::directory_iterator(scratch_.path() + "/roaming/Ostrel")) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 3u);
}

TEST_F(Doctor, RegistryValuesDecoded) {
  using platform::registry_root;
  working_client();
  struct registry_case {
    std::string name;
    std::function<void()> set;
    std::vector<expected> findings;
  };
  const uint8_t record[32] = {'H', 'P', 'V', '1', 0x39, 0x30};
  const std::vector<registry_case> cases = {
      {"numbers and texts in place",
       [] {
         platform::test::registry_set_dword(registry_root::local_machine, "serverBrowserMode", 1);
         platform::test::registry_set_string(registry_root::current_user, "rkgRetail", "fmrcq");
         platform::test::registry_set_string(registry_root::current_user, "rkgMods", "custom;1;rank.example");
         platform::test::registry_set_dword(registry_root::current_user, "client_opmode", 2);
       },
       {{level::ok, "registry", "serverBrowserMode = 1 (HKLM): the server list moves"},
        {level::ok, "registry", "rkgRetail = \"fmrcq\": the base game and its expansion use the fmrcq ranking host"},
        {level::ok, "registry", "rkgMods = \"custom;1;rank.example\": other modifications use the custom ranking host \"rank.example\""},
        {level::ok, "registry", "client_opmode = 2: redirection on"}}},
      {"wrong types and lengths",
       [] {
         platform::test::registry_set_string(registry_root::current_user, "serverBrowserMode", "1");
         platform::test::registry_set(registry_root::current_user, "client_opmode",
                                      platform::reg_dword, "\x01\x00", 2);
         platform::test::registry_set_string(registry_root::current_user, "rkgRetail",
                                             std::string(150, 'a'));
         platform::test::registry_set_dword(registry_root::current_user, "rkgMods", 7);
       },
       {{level::warning, "registry", "HKCU serverBrowserMode is REG_SZ of 2 bytes; the library reads only a REG_DWORD"},
        {level::warning, "registry", "client_opmode is REG_DWORD of 2 bytes"},
        {level::warning, "registry", "rkgRetail is REG_SZ of 151 bytes; the library reads only text of at most 99 bytes"},
        {level::warning, "registry", "rkgMods is REG_DWORD of 4 bytes"}}},
      {"redirection switched off",
       [] { platform::test::registry_set_dword(registry_root::current_user, "client_opmode", 0); },
       {{level::warning, "registry", "client_opmode = 0: redirection is OFF"}}},
      {"a launcher's record, its launcher gone",
       [&record] {
         platform::test::registry_set_dword(registry_root::current_user, "client_opmode", 1);
         platform::test::registry_set(registry_root::current_user, "client_opvdata",
                                      platform::reg_binary, record, sizeof record);
       },
       {{level::ok, "registry", "launcher process 12345, which is not running now: redirection is off"}}},
      {"a launcher's record of the wrong length",
       [&record] {
         platform::test::registry_set_dword(registry_root::current_user, "client_opmode", 1);
         platform::test::registry_set(registry_root::current_user, "client_opvdata",
                                      platform::reg_binary, record, 31);
       },
       {{level::ok, "registry", "client_opvdata is REG_BINARY of 31 bytes, not a 32-byte"}}},
  };
  for (const registry_case& c : cases) {
    SCOPED_TRACE(c.name);
    platform::test::registry_reset();
    c.set();
    const std::vector<doctor::finding> findings = run(game_);
    for (const expected& e : c.findings)
      EXPECT_TRUE(has(findings, e)) << e.text << "\n" << listing(findings);
  }
}

TEST_F(Doctor, SettingsLinesAsTheLibraryReadsThem) {
  working_client();
  put("ostrel_game.exe.cfg",
      text_bytes("# comment\r\n"
                 "gsqr_mstr = 192.0.2.10:28900\r\n"
                 "bf2web = lookup:stats.example\r\n"
                 "gsqr_key = 192.0.2.11\r\n"
                 "colour = blue\n"
                 "bf2web = lookup:" + std::string(80, 'n') + "\n" +
                 "gsqr_key = " + std::string(1200, '9') + "\n"
                 "\x1A" "gsqr_mstr = 1.2.3.4:1\n"));
  const std::vector<doctor::finding> findings = run(game_);
  const doctor::finding* settings = nullptr;
  for (const doctor::finding& f : findings)
    if (f.topic == "settings") settings = &f;
  ASSERT_NE(settings, nullptr) << listing(findings);
  EXPECT_EQ(settings->mark, level::warning);
  EXPECT_EQ(settings->text, "ostrel_game.exe.cfg: 2 setting(s) in effect, 5 line(s) ignored");
  const std::vector<std::string> want = {
      "line 2: gsqr_mstr = 192.0.2.10:28900: master server traffic goes to 192.0.2.10:28900",
      "line 3: bf2web = lookup:stats.example: statistics host looked up as \"stats.example\"",
      "line 4: gsqr_key = 192.0.2.11: ignored: the value is not ADDRESS:PORT",
      "line 5: colour = blue: ignored: unknown key",
      "line 6: bf2web = lookup:" + std::string(80, 'n') + ": ignored: the name after \"lookup:\" is empty or longer than 63 characters",
      "line 7: gsqr_key = " + std::string(988, '9') + ": ignored: the value is not ADDRESS:PORT",
      "line 7 is longer than 999 bytes: the library reads its rest as a line of its own",
      // Without "=" the key runs to the line's end, line end included.
      "line 7 (continued): " + std::string(212, '9') + "\\x0a = : ignored: unknown key",
  };
  ASSERT_EQ(settings->details.size(), want.size()) << listing(findings);
  for (size_t i = 0; i < want.size(); ++i)
    EXPECT_EQ(settings->details[i].substr(0, want[i].size()), want[i]) << i;
}

TEST_F(Doctor, LogTailAndWhereItLands) {
  working_client();
  fs::create_directories(game_ + "/logs/ostrel");
  std::vector<doctor::finding> findings = run(game_);
  EXPECT_TRUE(has(findings, {level::ok, "log", "nothing logged today yet"})) << listing(findings);

  put("logs/ostrel/2027-01-15_game.exe.log", text_bytes(log_lines(30)));
  for (size_t lines : {size_t{20}, size_t{5}, size_t{100}}) {
    findings = run(game_, lines);
    const doctor::finding* log = nullptr;
    for (const doctor::finding& f : findings)
      if (f.topic == "log") log = &f;
    ASSERT_NE(log, nullptr);
    ASSERT_EQ(log->details.size(), std::min<size_t>(lines, 31));
    EXPECT_EQ(log->details.back(), "(77) 07:00:00 > line 30");
  }
  // Any size, any bytes: the tail, made printable.
  std::string big(3 << 20, 'x');
  big += "\n\x1b[2Jescape\xff\n";
  put("logs/ostrel/2027-01-15_game.exe.log", text_bytes(big));
  findings = run(game_, 2);
  for (const doctor::finding& f : findings)
    if (f.topic == "log") {
      ASSERT_EQ(f.details.size(), 2u);
      EXPECT_EQ(f.details[1], "\\x1b[2Jescape\\xff");
      EXPECT_NE(f.text.find(std::to_string(big.size()) + " bytes"), std::string::npos) << f.text;
    }

  // Under Program Files the game's log lands in the VirtualStore copy.
  doctor::folder_read redirected;
  redirected.virtual_store = "C:\\Users\\p\\AppData\\Local\\VirtualStore\\Program Files\\Game";
  redirected.virtual_logs_folder = true;
  doctor::executable_read exe;
  exe.name = "game.exe";
  exe.log_name = "logs/ostrel/2027-01-15_game.exe.log";
  exe.virtual_log_path = redirected.virtual_store + "\\" + exe.log_name;
  exe.virtual_log.present = true;
  exe.virtual_log.bytes = text_bytes(log_lines(3));
  exe.virtual_log.size = exe.virtual_log.bytes.size();
  std::vector<doctor::finding> log;
  doctor::log_findings(redirected, exe, 20, log);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].text.rfind("game.exe: " + exe.virtual_log_path + ", ", 0), 0u) << log[0].text;
  EXPECT_NE(log[0].text.find("Windows (UAC) redirects"), std::string::npos) << log[0].text;
  EXPECT_EQ(log[0].details.size(), 4u);
  redirected.virtual_logs_folder = false;
  log.clear();
  doctor::log_findings(redirected, exe, 20, log);
  EXPECT_NE(log[0].text.find("logging is off"), std::string::npos) << log[0].text;
  EXPECT_NE(log[0].text.find("VirtualStore"), std::string::npos) << log[0].text;

  EXPECT_EQ(doctor::virtual_store_folder("C:\\Program Files (x86)\\Game", "C:\\Users\\p\\AppData\\Local"),
            "C:\\Users\\p\\AppData\\Local\\VirtualStore\\Program Files (x86)\\Game");
  EXPECT_EQ(doctor::virtual_store_folder("D:\\program files\\Game", ""),
            "%LOCALAPPDATA%\\VirtualStore\\program files\\Game");
  EXPECT_EQ(doctor::virtual_store_folder("C:\\Games\\Program Files", "x"), "");
  EXPECT_EQ(doctor::virtual_store_folder("/srv/game", "x"), "");
}

TEST_F(Doctor, DoubleClickOffersThePatch) {
  struct answer_case {
    std::string input;
    bool patched;
  };
  for (const answer_case& c : {answer_case{"y\n\n", true}, answer_case{"n\n\n", false},
                               answer_case{"", false}}) {
    SCOPED_TRACE(c.input);
    fs::remove_all(game_);
    put("game.exe", plain_exe());
    put("ostrel.dll", library_image::build({}));
    FILE* in = std::tmpfile();
    ASSERT_NE(in, nullptr);
    std::fwrite(c.input.data(), 1, c.input.size(), in);
    std::rewind(in);
    testing::internal::CaptureStdout();
    const int status = tool::double_click(game_, in);
    const std::string out = testing::internal::GetCapturedStdout();
    std::fclose(in);
    EXPECT_NE(out.find("game.exe still imports WS2_32.dll. Patch it now"), std::string::npos) << out;
    EXPECT_NE(out.find("Press Enter to close this window."), std::string::npos) << out;
    EXPECT_EQ(fs::exists(game_ + "/game.exe.ostrel-backup"), c.patched) << out;
    EXPECT_EQ(read_all(game_ + "/game.exe"), c.patched ? patched_exe() : plain_exe());
    EXPECT_EQ(status, c.patched ? 0 : 1) << out;
  }
}

TEST_F(Doctor, NetworkExchangeThroughTheLibrarysCode) {
  working_client();
  service::lookup_service lookup{deploy::lookup_chain, 0};
  lookup.map_name("master.legacy.test", {0x0A141E28});
  ASSERT_TRUE(lookup.start());
  platform::test::map_send_port(redirect::lookup_port, lookup.port());
  platform::test::set_resolved_addresses({0x0100007F});
  const doctor::folder_read read = doctor::gather_folder(game_, now);
  platform::test::use_real_clock();  // the service stamps its answer for the request's time

  doctor::finding f = doctor::network_finding(read);
  EXPECT_EQ(f.mark, level::ok) << f.text;
  EXPECT_NE(f.text.find("answered in"), std::string::npos) << f.text;
  EXPECT_NE(f.text.find(" entries, verified"), std::string::npos) << f.text;
  EXPECT_EQ(lookup.requests(), 1);

  lookup.set_fault(service::lookup_service::fault::wrong_code);
  f = doctor::network_finding(read);
  EXPECT_EQ(f.mark, level::problem);
  EXPECT_NE(f.text.find("does not verify"), std::string::npos) << f.text;

  lookup.set_fault(service::lookup_service::fault::silence);
  f = doctor::network_finding(read);
  EXPECT_EQ(f.mark, level::problem);
  EXPECT_NE(f.text.find("did not answer within 3 s"), std::string::npos) << f.text;
  lookup.stop();
  platform::test::map_send_port(redirect::lookup_port, 0);
  platform::test::set_resolved_addresses({});
}

// The queue folder holds what a player or another program left there too:
// only "queued-00.hsq" to "queued-23.hsq" are the library's, whatever the
// others hold, and only their ".bad" copies are ones it set aside.
TEST_F(Doctor, CountsOnlyTheQueueFilesTheLibraryReads) {
  server();
  put_server("python/bf2/stats/ostrelProviderID.sec", text_bytes("id"));
  user_file("snapshots/queued-00.hsq", queue_file(1, now - 60));
  user_file("snapshots/QUEUED-23.HSQ", queue_file(2, now - 30));  // file systems ignore case
  for (const char* foreign : {"queued-24.hsq", "queued-99.hsq", "queued-5.hsq", "notes.hsq",
                              "queued-01.hsq.old", "copy of queued-02.hsq"})
    user_file(std::string("snapshots/") + foreign, queue_file(3, now - 7200));
  for (int i = 0; i < 300; ++i)
    user_file("snapshots/sound-" + std::to_string(i) + ".hsq", queue_file(4, now - 7200));
  user_file("snapshots/notes.bad", text_bytes("not the library's"));
  user_file("snapshots/queued-04.hsq.bad", queue_file(5, now - 30));
  fs::create_directories(scratch_.path() + "/roaming/Ostrel/snapshots/queued-03.hsq");

  const std::vector<doctor::finding> findings = run(game_);
  std::vector<std::string> queue;
  for (const doctor::finding& f : findings)
    if (f.topic == "statistics queue") queue.push_back(f.text);
  EXPECT_EQ(queue.size(), 2u) << listing(findings);
  for (const char* said : {"snapshots: 2 snapshot(s) wait,", "snapshots: 1 file(s) set aside"})
    EXPECT_EQ(std::count_if(queue.begin(), queue.end(),
                            [said](const std::string& t) { return t.find(said) != std::string::npos; }),
              1)
        << said << "\n" << listing(findings);
}

// A DLL no loader would take, made to stall a reader that walks every
// section for every address: 65,535 sections and 131,070 resource types
// ahead of the version's (3.7 MB).  The section count is refused at once; with
// the 96 sections Windows allows, the same resource table is walked once and
// the version behind it is found.
TEST(DoctorLibrary, HostileSectionAndResourceCounts) {
  library_image::options hostile;
  hostile.sections = 0xFFFF;
  hostile.other_resource_types = 131069;
  const bytes_t file = library_image::build(hostile);
  EXPECT_GT(file.size(), size_t{3600000});
  pe::library_view view;
  std::string error;
  EXPECT_EQ(pe::read_library(file.data(), file.size(), view, error), 1);
  EXPECT_EQ(error, "more than 96 sections, which Windows does not load");

  library_image::options most = hostile;
  most.sections = 96;
  const bytes_t allowed = library_image::build(most);
  ASSERT_EQ(pe::read_library(allowed.data(), allowed.size(), view, error), 0) << error;
  EXPECT_TRUE(view.dll);
  EXPECT_EQ(view.exports.size(), std::size(ostrel_exported_names));
  ASSERT_TRUE(view.has_version) << view.version_error;
  const uint16_t own[4] = {OSTREL_VERSION_COMMAS};
  EXPECT_TRUE(std::equal(own, own + 4, view.version));
}

// The command as a player runs it: exit status, JSON that parses, the folder untouched.
TEST(DoctorCommand, ExitStatusAndJson) {
  scratch_dir dir;
  // The native platform's application-data folder lies under TMPDIR.
  const char* tmp = std::getenv("TMPDIR");
  const std::string saved = tmp ? tmp : "";
  setenv("TMPDIR", dir.path().c_str(), 1);
  dir.write("game/game.exe", patched_exe());
  dir.write("game/game.exe.ostrel-backup", plain_exe());
  dir.write("game/ostrel.dll", library_image::build({}));
  tool_result r = run_tool(dir, "doctor game");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("0 problem(s)"), std::string::npos) << r.out;

  dir.write("game/game.exe", plain_exe());
  fs::remove(dir.path() + "/game/game.exe.ostrel-backup");
  r = run_tool(dir, "doctor --json --log 3 game > doctor.json; python3 -m json.tool doctor.json");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("\"level\": \"problem\""), std::string::npos) << r.out;
  EXPECT_EQ(read_all(dir.path() + "/game/game.exe"), plain_exe()) << "the doctor changes nothing";
  EXPECT_FALSE(fs::exists(dir.path() + "/game/game.exe.ostrel-backup"));
  r = run_tool(dir, "doctor game");
  EXPECT_EQ(r.status, 1);
  r = run_tool(dir, "doctor missing-folder");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("problem folder: missing-folder does not exist"), std::string::npos) << r.out;
  if (tmp)
    setenv("TMPDIR", saved.c_str(), 1);
  else
    unsetenv("TMPDIR");
}

}  // namespace

namespace {

// The version resource and export table of the real ostrel.dll, when the
// Windows build is there.
TEST(DoctorLibrary, RealDllOfThisBuild) {
  const std::string dll = std::string(OSTREL_WIN_BIN) + "/ostrel.dll";
  if (!fs::exists(dll)) GTEST_SKIP() << "no Windows build in '" << OSTREL_WIN_BIN << "'";
  doctor::folder_read read;
  read.folder = OSTREL_WIN_BIN;
  read.folder_exists = true;
  read.dll = doctor::read_file(dll, size_t{16} << 20);
  std::vector<doctor::finding> findings;
  doctor::library_findings(read, findings);
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].mark, level::ok) << findings[0].text;
  EXPECT_EQ(findings[0].text, "a 32-bit DLL exporting the 35 functions, version " OSTREL_VERSION_TEXT
                              " (the tool's own)");
}

}  // namespace
