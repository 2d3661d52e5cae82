// Start-up and tear-down over the native test controls: the mode and names from
// the executable path, the host image record, the tables each mode allocates,
// the receive filter, and a second attach that changes nothing.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/host_image.h"
#include "core/process_state.h"
#include "core/service_state.h"
#include "library/startup.h"
#include "pe_builder.h"
#include "platform/native/test_controls.h"
#include "ranked/ranked_store.h"
#include "redirect/address_table.h"
#include "redirect/answer_blocks.h"
#include "scratch_dir.h"
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
    reset();
    pe_builder::layout l;
    l.sections = {{".text", 0x800, 0x400}};
    executable = pe_builder::build(l);
  }
  void TearDown() override {
    reset();
    test::set_executable_path("C:\\Games\\Game\\game.exe");
  }
  static void reset() {
    library::library_detach();
    core::process = core::process_state{};
    sockets::receive_dispatch = platform::real_recvfrom_function();
    test::registry_reset();
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
