// Shared set-up of the snapshot tests: a dedicated server's state block, the
// snapshot lock and an empty queue, the statistics host answered from the
// address table (127.0.0.1), a fixed date so the lookup refresh never runs,
// and the day's log file read back.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/log.h"
#include "core/service_state.h"
#include "platform/native/test_controls.h"
#include "base/spacing.h"
#include "deploy_values.h"
#include "deployment_keys.h"
#include "redirect/name_key.h"
#include "redirect_fixture.h"
#include "service/lookup_messages.h"
#include "service/stats_messages.h"
#include "snapshot/queue_folder.h"
#include "snapshot/snapshot_queue.h"

namespace snapshot_test {

using redirect_test::ip;

inline constexpr uint32_t test_date = 1800000000;
inline constexpr char provider[] = "PROV-ostrel-dev-1";

inline service::stats_keys keys() { return test_support::deployment_stats_keys(); }

// Puts the statistics host into the address table at address, or (0) leaves
// it out so that the name goes to the (fake) real resolver.
inline void map_stats_host(uint32_t address) {
  std::vector<std::pair<uint32_t, std::vector<uint32_t>>> table = {{0x1234, {ip(10, 9, 9, 9)}}};
  if (address) table.push_back({redirect::name_key(deploy::retired_snapshot_host), {address}});
  ASSERT_EQ(redirect_test::install_payload(service::payload_from_table(table).bytes()), 0);
}

class snapshot_fixture : public redirect_test::redirect_fixture {
 protected:
  void SetUp() override {
    redirect_fixture::SetUp();
    core::process.operating_mode = core::mode_server;
    platform::test::set_clock(test_date);
    redirect::last_refresh_time = spacing::stamp(platform::monotonic_ms());  // no lookup exchange
    std::filesystem::create_directories("logs/ostrel");
    core::log_reset();
    block_ = new core::service_state{};
    block_->game_port = 16567;
    block_->query_port = 29900;
    block_->server_address = ip(10, 1, 2, 3);
    block_->interface_address = ip(192, 168, 0, 7);
    text::copy_bounded(block_->provider_id, sizeof block_->provider_id, provider);
    core::service = block_;
    if (!snapshot::snapshot_lock) snapshot::snapshot_lock = platform::lock_create();
    snapshot::queue_reset();
    snapshot::queue_folder_reset();
    snapshot::submission_counter = 0;
    map_stats_host(ip(127, 0, 0, 1));
  }
  void TearDown() override {
    platform::test::set_stream_receive(nullptr);
    snapshot::queue_reset();
    snapshot::queue_folder_reset();
    core::service = nullptr;
    delete block_;
    core::log_reset();
    redirect_fixture::TearDown();
  }
  static std::string log_text() {
    char name[core::log_file_name_size];
    core::log_file_name(name, sizeof name, platform::now_seconds());
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  // Where the queue files are: the per-user folder is the working folder here.
  std::filesystem::path queue_folder() const {
    return std::filesystem::path(folder_.path()) / "Ostrel" / snapshot::queue_folder_name;
  }
  // The queue files there, sound or not, by name.
  std::vector<std::string> queue_files() const {
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& e : std::filesystem::directory_iterator(queue_folder(), ignored))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  static int count_of(const std::string& text, const std::string& part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
  }

  core::service_state* block_ = nullptr;
};

}  // namespace snapshot_test
