// Crash points of the queue folder: a server's life of submissions, uploads,
// a refusal and a restart, stopped dead after its k-th change to the disk for
// every k (later changes never happen, as when the process is killed there;
// with a power cut, what was never flushed comes back empty too), then a new
// process on the same folder runs until the queue is empty.  Whatever k:
// every snapshot the scripts were told was taken arrives exactly once or its
// drop is logged, none arrives twice or set aside as corrupt, and the second
// life leaves no file behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/native/test_controls.h"
#include "snapshot_worker_fixture.h"

namespace {

namespace test = platform::test;

class QueueCrashPoints : public snapshot_test::worker_fixture {
 protected:
  void SetUp() override {
    worker_fixture::SetUp();
    test::set_real_disk_syncs(false);  // the power cut is the model's, not the machine's
  }
  void TearDown() override {
    test::set_real_disk_syncs(true);
    test::set_file_change_limit(-1);
    worker_fixture::TearDown();
  }

  struct step {
    std::string submits;  // the data a submission step hands over, else empty
    std::function<void()> run;
  };

  // Bodies of different lengths, so that a log line's size names its snapshot.
  static constexpr const char* datas[] = {"a", "bb-poison", "ccc", "dddd", "eeeee"};
  static uint32_t body_length_of(const std::string& data) { return 64 + static_cast<uint32_t>(data.size()); }

  std::vector<step> scenario() {
    const auto submit = [](const char* data) { return step{data, [data] { submit_kept(data); }}; };
    const auto pass = [this](uint64_t now) { return step{"", [this, now] { snapshot::worker_pass(state_, now); }}; };
    return {
        submit(datas[0]), submit(datas[1]), pass(100),        // a delivered
        submit(datas[2]), pass(110),                          // the poison refused once
        step{"", [this] { restart(); }},                      // restored and taken over
        submit(datas[3]), pass(200), pass(210),               // the poison dropped
        pass(211), pass(212),                                 // c and d delivered
        submit(datas[4]), pass(213),
    };
  }

  // Runs the scenario until it ends or the disk stops; the data of the
  // submissions that returned to the script.
  std::vector<std::string> first_life() {
    std::vector<std::string> acknowledged;
    for (const step& s : scenario()) {
      s.run();
      if (test::disk_stopped()) break;
      if (!s.submits.empty()) acknowledged.push_back(s.submits);
    }
    return acknowledged;
  }

  void second_life() {
    restart();
    for (uint64_t now = 1000; now < 1300 && snapshot::queue_count() > 0; now += 10)
      snapshot::worker_pass(state_, now);
  }

  // The invariants after both lives; "" when they hold.
  std::string judge(const std::vector<std::string>& acknowledged) {
    std::map<std::string, int> arrivals;
    for (const std::string& data : arrived()) ++arrivals[data];
    const std::string log = log_text();
    std::string fault;
    for (const char* data : datas) {
      const std::string d = data;
      const bool told = std::find(acknowledged.begin(), acknowledged.end(), d) != acknowledged.end();
      const int dropped = count_of(log, "(" + std::to_string(body_length_of(d)) + " bytes) discarded");
      if (arrivals[d] > 1) fault += d + " arrived " + std::to_string(arrivals[d]) + " times; ";
      if (told && arrivals[d] == 0 && dropped == 0) fault += d + " lost; ";
    }
    if (count_of(log, "set aside") > 0) fault += "a file was set aside as corrupt; ";
    if (!queue_files().empty()) {
      fault += "left behind:";
      for (const std::string& name : queue_files()) fault += " " + name;
    }
    return fault;
  }
};

TEST_F(QueueCrashPoints, EverySnapshotOnceOrItsDropLogged) {
  web_.refuse_data(datas[1], 400);
  // The whole life once, to count its changes.
  test::set_file_change_limit(-1);
  const std::vector<std::string> all = first_life();
  const long changes = test::file_changes_made();
  ASSERT_EQ(all.size(), 5u);
  ASSERT_GT(changes, 15) << "the life must reach keep, restore, renumber, deliver and drop";
  second_life();
  ASSERT_EQ(judge(all), "");
  EXPECT_EQ(arrived(), (std::vector<std::string>{"a", "ccc", "dddd", "eeeee"}));

  for (const bool power_cut : {false, true}) {
    for (long k = 0; k <= changes; ++k) {
      SCOPED_TRACE((power_cut ? "power cut after change " : "killed after change ") + std::to_string(k));
      std::filesystem::remove_all(queue_folder());
      std::filesystem::remove_all("logs");
      std::filesystem::create_directories("logs/ostrel");
      core::log_reset();
      web_.clear();
      web_.refuse_data(datas[1], 400);
      snapshot::queue_reset();
      snapshot::queue_folder_reset();
      snapshot::submission_counter = 0;
      state_ = uploads_only();

      test::set_file_change_limit(k);
      const std::vector<std::string> acknowledged = first_life();
      if (power_cut) test::power_cut();
      test::set_file_change_limit(-1);
      second_life();
      EXPECT_EQ(judge(acknowledged), "");
    }
  }
}

}  // namespace
