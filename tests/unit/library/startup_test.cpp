// Start-up and tear-down over the native test controls: the mode and names from
// the executable path, the host image record, the tables each mode allocates,
// the receive filter, a second attach that changes nothing, and the split of
// start-up into what the loader lock allows at load and what waits for the
// first call into the library.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "core/host_image.h"
#include "core/process_state.h"
#include "core/service_state.h"
#include "core/start_gate.h"
#include "library/startup.h"
#include "pe_builder.h"
#include "platform/native/test_controls.h"
#include "platform/net.h"
#include "ranked/ranked_store.h"
#include "redirect/address_table.h"
#include "redirect/answer_blocks.h"
#include "scratch_dir.h"
#include "script/script_hooks.h"
#include "snapshot/worker.h"
#include "sockets/dispatch.h"
#include "sockets/player_logins.h"
#include "sockets/receive_filters.h"

namespace {

using platform::registry_root;
namespace test = platform::test;

// Process state is global: every case starts from a freshly loaded library.
class Startup : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir.path().empty());
    char current[4096];
    had_appdata_ = platform::appdata_folder(current, sizeof current) == 0;
    if (had_appdata_) saved_appdata_ = current;
    user_ = dir.path() + "/user";
    test::set_appdata_folder(user_.c_str());
    reset();
    pe_builder::layout l;
    l.sections = {{".text", 0x800, 0x400}};
    executable = pe_builder::build(l);
  }
  void TearDown() override {
    reset();
    test::set_executable_path("C:\\Games\\Game\\game.exe");
    test::set_appdata_folder(had_appdata_ ? saved_appdata_.c_str() : nullptr);
  }
  static void reset() {
    library::library_detach();
    core::process = core::process_state{};
    sockets::receive_dispatch = platform::real_recvfrom_function();
    test::registry_reset();
    test::set_thread_start_failing(false);
    test::forget_winsock_references();
    test::clear_socket_faults();
  }
  // Writes the executable at relative and points the process at it.
  std::string install(const std::string& relative) {
    std::string path = dir.write(relative, executable);
    test::set_executable_path(path.c_str());
    return path;
  }
  void expect_record_of(const std::string& path) {
    uint8_t record[core::host_image_record_size] = {};
    char tag[33] = "";
    FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    core::compute_host_image_record(f, record, tag);
    std::fclose(f);
    EXPECT_EQ(0, std::memcmp(core::process.host_image_record, record, sizeof record));
    EXPECT_STREQ(core::process.host_image_tag, tag);
    EXPECT_EQ(core::process.host_image_record[core::hir_length], 46);
  }

  scratch_dir dir;
  std::vector<uint8_t> executable;
  std::string user_;  // the per-user (application-data) folder
  bool had_appdata_ = false;
  std::string saved_appdata_;
};

TEST_F(Startup, ClientMode) {
  const std::string path = install("Games/Game/game.exe");
  test::registry_set_dword(registry_root::local_machine, "serverBrowserMode", 1);
  ASSERT_FALSE(redirect::address_table_allocated());

  EXPECT_EQ(library::library_attach(), 0);
  EXPECT_EQ(core::process.initialised, 1);
  EXPECT_EQ(core::process.operating_mode, core::mode_client);
  EXPECT_STREQ(core::process.host_executable_name, "game.exe");
  EXPECT_STREQ(core::process.settings_file_name, "ostrel_game.exe.cfg");
  expect_record_of(path);
  EXPECT_EQ(core::process.server_browser_mode, 0u) << "the registry waits for the first call";
  core::pass_start_gate();
  EXPECT_EQ(core::process.server_browser_mode, 1u);

  EXPECT_TRUE(ranked::arena_allocated());
  EXPECT_EQ(core::service, nullptr);
  EXPECT_TRUE(redirect::address_table_allocated());
  EXPECT_TRUE(redirect::answer_slot.valid);
  EXPECT_TRUE(sockets::player_logins_allocated());
  EXPECT_EQ(sockets::receive_dispatch, &sockets::client_receive_filter);
}

TEST_F(Startup, ServerModeFromTheFolderName) {
  const std::string path = install("w32ded/server.exe");
  test::registry_set_dword(registry_root::current_user, "serverBrowserMode", 1);
  const bool arena_before = ranked::arena_allocated();

  EXPECT_EQ(library::library_attach(), 0);
  EXPECT_EQ(core::process.operating_mode, core::mode_server);
  EXPECT_STREQ(core::process.host_executable_name, "server.exe");
  EXPECT_STREQ(core::process.settings_file_name, "ostrel_server.exe.cfg");
  expect_record_of(path);
  core::pass_start_gate();
  EXPECT_EQ(core::process.server_browser_mode, 0u);  // a client-only setting

  ASSERT_NE(core::service, nullptr);
  const core::service_state zero{};
  EXPECT_EQ(0, std::memcmp(core::service, &zero, sizeof zero));
  EXPECT_NE(snapshot::snapshot_lock, nullptr);
  EXPECT_EQ(ranked::arena_allocated(), arena_before);
  EXPECT_TRUE(redirect::address_table_allocated());
  EXPECT_TRUE(sockets::player_logins_allocated());
  EXPECT_EQ(sockets::receive_dispatch, &sockets::server_receive_filter);
}

// What Windows allows while the loader lock is held ("Dynamic-Link Library
// Best Practices"): facts of the process, reading the executable, clocks,
// creating locks and thread-local slots, allocating, and the module queries
// and memory protection of import patching.  Never the registry, the shell's
// folders, other files or folders, sockets, threads or waits.
const std::set<std::string> allowed_at_load = {
    "executable_path", "command_line", "process_id", "entropy", "now_seconds", "monotonic_ms",
    "utc_from_seconds", "lock_create", "lock_acquire", "lock_release", "thread_slot_alloc",
    "thread_slot_get", "thread_slot_set", "main_module_image", "loaded_module_symbol",
    "memory_readable", "valid_code_address", "store_code_pointer"};

std::string call_name(const std::string& line) { return line.substr(0, line.find(' ')); }

bool recorded(const std::vector<std::string>& calls, const std::string& line) {
  return std::find(calls.begin(), calls.end(), line) != calls.end();
}

TEST_F(Startup, LoadDoesOnlyWhatTheLoaderLockAllowsAndTheFirstCallTheRest) {
  struct mode_case {
    const char* executable;
    std::vector<std::string> first_call_makes;  // in this order
  };
  const std::string& user = user_;
  const mode_case cases[] = {
      {"Games/Game/game.exe",
       {"winsock_reference", "registry_query serverBrowserMode", "appdata_folder", "create_folder " + user + "\\Ostrel",
        "open_file " + user + "\\Ostrel\\rankedservers", "open_file " + user + "\\Ostrel\\network_1_",
        "open_file " + user + "\\Ostrel\\network_0_"}},
      {"w32ded/server.exe",
       {"winsock_reference", "thread_start", "open_file " + user + "\\Ostrel\\network_1_",
        "open_file " + user + "\\Ostrel\\network_0_"}},
  };
  for (const mode_case& c : cases) {
    SCOPED_TRACE(c.executable);
    reset();
    test::registry_set_dword(registry_root::current_user, "serverBrowserMode", 1);
    const std::string path = install(c.executable);

    std::vector<std::string> calls;
    test::record_seam_calls(&calls);
    library::library_attach();
    test::record_seam_calls(nullptr);
    ASSERT_FALSE(calls.empty());
    for (const std::string& line : calls) {
      if (call_name(line) == "open_file")
        EXPECT_EQ(line, "open_file " + path) << "the executable is the only file read at load";
      else
        EXPECT_TRUE(allowed_at_load.count(call_name(line))) << line << " at load";
    }

    // The first call does the rest, once; the cache files carry the image's tag.
    calls.clear();
    test::record_seam_calls(&calls);
    core::pass_start_gate();
    core::pass_start_gate();
    test::record_seam_calls(nullptr);
    size_t found = 0;  // first_call_makes, in order, among the calls
    for (std::string line : calls) {
      if (line.rfind("open_file", 0) == 0 && line.find("network_") != std::string::npos)
        line = line.substr(0, line.size() - std::strlen(core::process.host_image_tag));
      if (found < c.first_call_makes.size() && line == c.first_call_makes[found]) ++found;
    }
    EXPECT_EQ(found, c.first_call_makes.size())
        << "missing: " << (found < c.first_call_makes.size() ? c.first_call_makes[found] : "");
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "thread_start"),
              core::process.operating_mode == core::mode_server ? 1 : 0);
  }
}

// The library takes its own reference on the socket library at its first
// call, once: a host that cleans its own up (and opens sockets again, which
// may get the same handle values) leaves the library's sockets working.
TEST_F(Startup, HostsSocketCleanupLeavesTheLibrarysSocketsAlone) {
  install("w32ded/server.exe");
  library::library_attach();
  EXPECT_EQ(test::winsock_references(), 0) << "not under the loader lock";
  core::pass_start_gate();
  core::pass_start_gate();
  EXPECT_EQ(test::winsock_references(), 1);

  const platform::socket_handle own = platform::udp_open();
  ASSERT_NE(own, platform::invalid_socket);
  test::host_winsock_cleanup();
  const char ping[] = "ping";
  EXPECT_EQ(platform::udp_send_to(own, ping, sizeof ping, htonl(INADDR_LOOPBACK), 9), 5);
  EXPECT_FALSE(platform::socket_handle_lost());
  platform::socket_close(own);
}

// A fake of the runtime's registration: the host's module object it returns.
script::py_object fake_host_module{1000, nullptr};
std::vector<std::string> registered;
script::py_object* fake_init_module(const char* name, script::py_method*, const char*,
                                    script::py_object*, int) {
  registered.emplace_back(name);
  return &fake_host_module;
}

TEST_F(Startup, ScriptHooksRunTheFirstCallAndStandDownWithoutAWorker) {
  // Today's rule kept: without the worker the runtime is as if never patched.
  for (const bool worker_starts : {true, false}) {
    SCOPED_TRACE(worker_starts ? "worker started" : "no worker");
    reset();
    install("w32ded/server.exe");
    test::set_thread_start_failing(!worker_starts);
    library::library_attach();
    script::real_init_module = fake_init_module;
    script::host_module = nullptr;
    registered.clear();

    std::vector<std::string> calls;
    test::record_seam_calls(&calls);
    EXPECT_EQ(script::hooked_Py_InitModule4("host", nullptr, "", nullptr, 1013), &fake_host_module);
    test::record_seam_calls(nullptr);
    EXPECT_TRUE(recorded(calls, "thread_start")) << "the hook is the first call";
    ASSERT_FALSE(registered.empty());
    EXPECT_EQ(registered[0], "host");
    if (!worker_starts) {
      EXPECT_EQ(registered.size(), 1u) << "no module of ours";
    }
    EXPECT_EQ(script::host_module, worker_starts ? &fake_host_module : nullptr);
    script::host_module = nullptr;
  }
  script::install_script_hooks();  // hooks back on for the tests that follow
  script::real_init_module = nullptr;
}

TEST_F(Startup, UnreadableExecutableLeavesRecordEmpty) {
  test::set_executable_path((dir.path() + "/Games/missing/game.exe").c_str());
  library::library_attach();
  EXPECT_STREQ(core::process.host_executable_name, "game.exe");
  const uint8_t zero[core::host_image_record_size] = {};
  EXPECT_EQ(0, std::memcmp(core::process.host_image_record, zero, sizeof zero));
  EXPECT_STREQ(core::process.host_image_tag, "unknown");
  EXPECT_EQ(sockets::receive_dispatch, &sockets::client_receive_filter);
}

TEST_F(Startup, UnknownExecutablePathKeepsDefaultNames) {
  test::set_executable_path(nullptr);
  library::library_attach();
  EXPECT_EQ(core::process.operating_mode, core::mode_client);
  EXPECT_STREQ(core::process.host_executable_name, "");
  EXPECT_STREQ(core::process.settings_file_name, "ostrel.cfg");
  EXPECT_STREQ(core::process.host_image_tag, "unknown");
  EXPECT_EQ(core::process.initialised, 1);
}

TEST_F(Startup, SecondAttachChangesNothing) {
  install("Games/Game/game.exe");
  library::library_attach();
  const core::process_state first = core::process;

  executable[0x500] ^= 1;  // a different image, so a second reading would show
  install("w32ded/other.exe");
  EXPECT_EQ(library::library_attach(), 0);
  EXPECT_EQ(core::process.operating_mode, core::mode_client);
  EXPECT_STREQ(core::process.host_executable_name, first.host_executable_name);
  EXPECT_STREQ(core::process.settings_file_name, first.settings_file_name);
  EXPECT_EQ(0, std::memcmp(core::process.host_image_record, first.host_image_record,
                           sizeof first.host_image_record));
  EXPECT_EQ(core::service, nullptr);
  EXPECT_EQ(sockets::receive_dispatch, &sockets::client_receive_filter);
}

TEST_F(Startup, DetachOnProcessExitTouchesNothing) {
  // The other threads of an ending process were stopped wherever they were,
  // maybe inside a lock: the detach neither frees nor locks anything.
  install("w32ded/server.exe");
  library::library_attach();
  EXPECT_EQ(library::library_process_detach(true), 0);
  EXPECT_NE(core::service, nullptr);
  EXPECT_NE(snapshot::snapshot_lock, nullptr);
  EXPECT_TRUE(redirect::address_table_allocated());
  EXPECT_TRUE(redirect::answer_slot.valid);
}

TEST_F(Startup, DetachReleasesWhatItOwns) {
  install("w32ded/server.exe");
  library::library_attach();
  library::library_process_detach(false);
  EXPECT_EQ(core::service, nullptr);
  EXPECT_EQ(snapshot::snapshot_lock, nullptr);
  EXPECT_FALSE(redirect::address_table_allocated());
  EXPECT_FALSE(redirect::answer_slot.valid);
  EXPECT_TRUE(sockets::player_logins_allocated());  // lives for the process
}

}  // namespace
