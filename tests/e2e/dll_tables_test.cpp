// ostrel.dll's export and import tables and its pass-through code, read with
// objdump and held to what a host that loads it in place of WS2_32 expects.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <vector>

#include "wine_host.h"

namespace e2e {
namespace {

std::string dll_path() { return client_dir() + "/ostrel.dll"; }
std::string objdump_p() { return run_capture("i686-w64-mingw32-objdump -p '" + dll_path() + "'"); }

const std::map<int, std::string> expected_exports = {
    {1, "accept"},          {2, "bind"},           {3, "closesocket"},    {4, "connect"},
    {5, "getpeername"},     {6, "getsockname"},    {7, "getsockopt"},     {8, "htonl"},
    {9, "htons"},           {10, "ioctlsocket"},   {11, "inet_addr"},     {12, "inet_ntoa"},
    {13, "listen"},         {14, "ntohl"},         {15, "ntohs"},         {16, "recv"},
    {17, "recvfrom"},       {18, "select"},        {19, "send"},          {20, "sendto"},
    {21, "setsockopt"},     {22, "shutdown"},      {23, "socket"},        {51, "gethostbyaddr"},
    {52, "gethostbyname"},  {53, "getprotobyname"}, {55, "getservbyname"}, {56, "getservbyport"},
    {57, "gethostname"},    {78, "WSAIoctl"},      {111, "WSAGetLastError"},
    {112, "WSASetLastError"}, {115, "WSAStartup"}, {116, "WSACleanup"},  {151, "__WSAFDIsSet"}};
const std::set<std::string> stepping_in = {"closesocket", "connect", "recvfrom", "sendto",
                                           "gethostbyname"};

// ordinal -> (name, RVA) from objdump's export listing.
struct export_entry {
  std::string name;
  unsigned long rva;
};
std::map<int, export_entry> read_exports(const std::string& dump) {
  std::map<int, export_entry> out;
  std::regex address_line(R"(\[\s*(\d+)\] \+base\[\s*(\d+)\] ([0-9a-f]+) Export RVA)");
  std::regex name_line(R"(\[\s*(\d+)\] (\S+)$)");
  std::istringstream in(dump);
  std::string line;
  bool in_names = false;
  while (std::getline(in, line)) {
    std::smatch m;
    if (line.find("[Ordinal/Name Pointer] Table") != std::string::npos) in_names = true;
    if (line.find("Forwarder RVA") != std::string::npos) out[-1] = {"forwarder", 0};
    if (!in_names && std::regex_search(line, m, address_line))
      out[std::stoi(m[2])].rva = std::stoul(m[3], nullptr, 16);
    else if (in_names && std::regex_search(line, m, name_line))
      out[std::stoi(m[1]) + 1].name = m[2];
    if (in_names && line.empty()) in_names = false;
  }
  return out;
}

TEST(DllTables, ExportDirectoryIsTheWinsockSurface) {
  std::string dump = objdump_p();
  ASSERT_FALSE(dump.empty());
  EXPECT_NE(dump.find("Name \t\t\t\t"), std::string::npos);
  EXPECT_TRUE(std::regex_search(dump, std::regex(R"(Name\s+[0-9a-f]+ ostrel\.dll)")));
  EXPECT_TRUE(std::regex_search(dump, std::regex(R"(Ordinal Base\s+1\b)")));
  EXPECT_TRUE(std::regex_search(dump, std::regex(R"(Export Address Table\s+00000097)")));
  EXPECT_TRUE(std::regex_search(dump, std::regex(R"(\[Name Pointer/Ordinal\] Table\s+00000023)")));

  auto exports = read_exports(dump);
  EXPECT_EQ(exports.count(-1), 0u) << "forwarder entries present";
  ASSERT_EQ(exports.size(), expected_exports.size());
  for (const auto& [ordinal, name] : expected_exports) {
    ASSERT_EQ(exports.count(ordinal), 1u) << ordinal;
    EXPECT_EQ(exports[ordinal].name, name) << ordinal;
    EXPECT_NE(exports[ordinal].rva, 0u) << name;
  }
}

TEST(DllTables, ImportsNameOnlySystemLibrariesAndWinsockByOrdinal) {
  std::string dump = objdump_p();
  std::set<std::string> dlls;
  std::regex dll_line(R"(DLL Name: (\S+))");
  for (std::sregex_iterator it(dump.begin(), dump.end(), dll_line), end; it != end; ++it)
    dlls.insert((*it)[1]);
  const std::set<std::string> allowed = {"KERNEL32.dll", "WS2_32.dll", "ADVAPI32.dll",
                                         "SHELL32.dll",  "PSAPI.DLL",  "msvcrt.dll"};
  for (const auto& d : dlls) EXPECT_EQ(allowed.count(d), 1u) << "unexpected import " << d;
  EXPECT_EQ(dlls.count("WS2_32.dll"), 1u);

  // The WS2_32 block: 1.1 functions by ordinal, three functions by name.
  size_t start = dump.find("DLL Name: WS2_32.dll");
  ASSERT_NE(start, std::string::npos);
  size_t stop = dump.find("\n\n", start + 40);
  std::string block = dump.substr(start, stop - start);
  std::set<int> by_ordinal;
  std::set<std::string> by_name;
  std::regex ordinal_line(R"(8000[0-9a-f]{4}\s+(\d+)\s+<none>)");
  std::regex name_line(R"(\n\s*[0-9a-f]+\s+\d+\s+([A-Za-z_]\w*))");
  for (std::sregex_iterator it(block.begin(), block.end(), ordinal_line), end; it != end; ++it)
    by_ordinal.insert(std::stoi((*it)[1]));
  for (std::sregex_iterator it(block.begin(), block.end(), name_line), end; it != end; ++it)
    by_name.insert((*it)[1]);
  EXPECT_EQ(by_name, (std::set<std::string>{"WSAIoctl", "getaddrinfo", "freeaddrinfo"}));
  for (const auto& [ordinal, name] : expected_exports) {
    if (name == "WSAIoctl") continue;
    EXPECT_EQ(by_ordinal.count(ordinal), 1u) << name << " not imported by ordinal";
  }
  for (int ordinal : by_ordinal) EXPECT_EQ(expected_exports.count(ordinal), 1u) << ordinal;
}

TEST(DllTables, EveryPassThroughIsOneIndirectJump) {
  std::string dump = objdump_p();
  auto exports = read_exports(dump);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(dump, m, std::regex(R"(ImageBase\s+([0-9a-f]+))")));
  unsigned long base = std::stoul(m[1], nullptr, 16);
  int checked = 0;
  for (const auto& [ordinal, entry] : exports) {
    if (ordinal < 0 || stepping_in.count(entry.name)) continue;
    unsigned long at = base + entry.rva;
    char range[96];
    std::snprintf(range, sizeof range, "--start-address=0x%lx --stop-address=0x%lx", at, at + 6);
    std::string code = run_capture("i686-w64-mingw32-objdump -d " + std::string(range) + " '" +
                                   dll_path() + "'");
    EXPECT_TRUE(std::regex_search(code, std::regex(R"(ff 25 [0-9a-f ]{11}\s+jmp\s+\*0x[0-9a-f]+)")))
        << entry.name << ":\n"
        << code;
    ++checked;
  }
  EXPECT_EQ(checked, 30);
}

TEST(DllTables, CarriesAVersionResource) {
  std::ifstream in(dll_path(), std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto utf16 = [](const std::string& s) {
    std::string out;
    for (char c : s) {
      out += c;
      out += '\0';
    }
    return out;
  };
  for (const char* text : {"ProductName", "Ostrel Client", "FileDescription", "FileVersion",
                           "OriginalFilename", "ostrel.dll"})
    EXPECT_NE(bytes.find(utf16(text)), std::string::npos) << text;
}

// The programs that run on players' machines declare how Windows must run
// them: as the invoker (so UAC neither virtualizes their files nor asks to
// elevate) and on which versions (7, 8, 8.1, 10/11); the tool and the DLL
// carry one version.
std::string file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
std::string resource_value(const std::string& path, const std::string& name) {
  const std::string rc = run_capture("i686-w64-mingw32-windres -i '" + path + "' -O rc");
  std::smatch m;
  const std::regex value("VALUE \"" + name + "\", \"([^\"]*)\"");
  return std::regex_search(rc, m, value) ? m[1].str() : "";
}

TEST(DllTables, ProgramsDeclareInvokerAndWindowsVersionsAndShareTheVersion) {
  const std::string tool = win_bin() + "/ostrel-tool.exe";
  for (const std::string& program : {tool, client_dir() + "/hostsim.exe",
                                     server_dir() + "/hostsim.exe", plain_dir() + "/hostsim.exe"}) {
    SCOPED_TRACE(program);
    const std::string bytes = file_bytes(program);
    ASSERT_FALSE(bytes.empty());
    for (const char* text :
         {"level=\"asInvoker\"", "uiAccess=\"false\"",
          "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
          "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"})
      EXPECT_NE(bytes.find(text), std::string::npos) << text;
  }
  const std::string version = resource_value(dll_path(), "ProductVersion");
  EXPECT_FALSE(version.empty());
  EXPECT_EQ(resource_value(tool, "ProductVersion"), version);
  EXPECT_EQ(resource_value(tool, "FileVersion"), resource_value(dll_path(), "FileVersion"));
  EXPECT_EQ(resource_value(tool, "OriginalFilename"), "ostrel-tool.exe");
  EXPECT_EQ(resource_value(dll_path(), "OriginalFilename"), "ostrel.dll");
}

}  // namespace
}  // namespace e2e

namespace e2e {
namespace {

// The script module composes the host module's method names, its own module
// name and the retired service's host names at run time: none of them may
// stand in the DLL's bytes as text.
TEST(DllTables, ScriptNamesAreNotConstantText) {
  std::ifstream in(dll_path(), std::ios::binary);
  ASSERT_TRUE(in);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(bytes.size(), 10000u);
  // Every retired host name of the deployment file: "retired_*_host" and the master.
  std::vector<std::string> names = {"ostrellib", "sgl_getModDirectory", "rcon_invoke"};
  std::ifstream conf(std::string(OSTREL_SOURCE_DIR) + "/deploy/dev.conf");
  const std::regex retired_line(R"(^\s*(retired_\w*_host|master_host)\s*=\s*(\S+))");
  for (std::string line; std::getline(conf, line);) {
    std::smatch m;
    if (std::regex_search(line, m, retired_line)) names.push_back(m[2]);
  }
  ASSERT_GE(names.size(), 3u + 5u);
  for (const std::string& name : names) EXPECT_EQ(bytes.find(name), std::string::npos) << name;
  // Control: texts that the library does keep are found by the same search.
  EXPECT_NE(bytes.find("PyArg_ParseTuple"), std::string::npos);
}

}  // namespace
}  // namespace e2e
