// Two server processes of one user share the queue folder (forked here, each
// a whole process with its own memory): each keeps and delivers snapshots
// and now and then restarts, taking over what an ended process left; the
// first ends abruptly while the second goes on, then the second ends the same
// way, and a last start-up takes over what both left.  Every snapshot that a
// process was told was taken is delivered exactly once.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <map>
#include <string>

#include "platform/native/test_controls.h"
#include "snapshot/queue_folder.h"
#include "snapshot_fixture.h"

namespace {

namespace test = platform::test;

class QueueSharedFolder : public snapshot_test::snapshot_fixture {
 protected:
  void SetUp() override {
    snapshot_fixture::SetUp();
    test::use_real_processes(true);
    test::set_real_disk_syncs(false);  // thousands of changes; no power cut here
    journal_ = folder_.path() + "/journal";
  }
  void TearDown() override {
    test::set_real_disk_syncs(true);
    test::use_real_processes(false);
    snapshot_fixture::TearDown();
  }

  // One line a fact, appended whole by whichever process writes it.
  void note(char what, const std::string& data) const {
    const int fd = ::open(journal_.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0600);
    const std::string line = std::string(1, what) + " " + data + "\n";
    if (fd >= 0) {
      (void)!::write(fd, line.data(), line.size());
      ::close(fd);
    }
  }

  // Submits as the script does; false when the snapshot could not be kept
  // in the folder (the test wants every one kept there).
  static bool keep(const std::string& data) {
    snapshot::snapshot_record r;
    r.header_reserve = snapshot::header_reserve_size;
    r.body_length = 70;
    r.buffer = new uint8_t[r.header_reserve + r.body_length]();
    std::memcpy(r.buffer + r.header_reserve, data.data(), data.size());
    r.sequence = snapshot::next_sequence();
    if (snapshot::keep_snapshot(r) != 0 || snapshot::enqueue(&r) != 0) {
      snapshot::release_snapshot(r);
      return false;
    }
    return true;
  }

  // Delivers the oldest queued snapshot as the worker does; false when none.
  bool deliver() const {
    snapshot::snapshot_record r;
    if (snapshot::dequeue(&r) != 0) return false;
    if (snapshot::mark_sending(r) != 0) {
      snapshot::enqueue(&r);
      return true;
    }
    note('D', reinterpret_cast<const char*>(r.buffer + r.header_reserve));
    snapshot::forget_snapshot(r);
    snapshot::release_snapshot(r);
    return true;
  }

  static void restart() {
    snapshot::queue_reset();
    snapshot::queue_folder_reset();
    snapshot::restore_queue();
  }

  // A server's life: cycles of a keep or two and a delivery or two (never
  // more than five waiting, so that what both leave fits one queue), a
  // restart every restart_every cycles, and an abrupt end with snapshots
  // still queued.
  [[noreturn]] void life(int id, int cycles, int restart_every) const {
    uint32_t state = 2463534242u + static_cast<uint32_t>(id);
    const auto next = [&state] {
      state ^= state << 13;
      state ^= state >> 17;
      state ^= state << 5;
      return state;
    };
    std::vector<std::string> unsent;
    for (int i = 0; i < cycles; ++i) {
      for (uint32_t j = 0, n = 1 + next() % 2; j < n; ++j) {
        const std::string data = "p" + std::to_string(id) + "-" + std::to_string(i) + "-" + std::to_string(j);
        if (keep(data))
          note('A', data);
        else
          unsent.push_back(data);
      }
      for (uint32_t j = 0, n = snapshot::queue_count() > 3 ? 2 : next() % 2; j < n; ++j) deliver();
      if (i % restart_every == restart_every - 1) restart();
    }
    for (const std::string& data : unsent) note('U', data);
    ::_exit(0);
  }

  std::string journal_;
};

TEST_F(QueueSharedFolder, EverySnapshotDeliveredOnceWhicheverProcessRestoresIt) {
  const pid_t first = ::fork();
  ASSERT_GE(first, 0);
  if (first == 0) life(1, 1500, 400);
  const pid_t second = ::fork();
  ASSERT_GE(second, 0);
  if (second == 0) life(2, 3000, 700);  // its later restarts take over the first's files
  for (pid_t child : {first, second}) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }

  restart();
  while (deliver()) {
  }

  std::map<std::string, int> delivered;
  std::vector<std::string> acknowledged, unkept;
  std::ifstream in(journal_);
  for (std::string line; std::getline(in, line);) {
    if (line.size() < 3) continue;
    const std::string data = line.substr(2);
    if (line[0] == 'A') acknowledged.push_back(data);
    if (line[0] == 'D') ++delivered[data];
    if (line[0] == 'U') unkept.push_back(data);
  }
  EXPECT_TRUE(unkept.empty()) << unkept.size() << " snapshots could not be kept, the first " << unkept[0];
  ASSERT_GT(acknowledged.size(), 5000u);
  int lost = 0, twice = 0;
  for (const std::string& data : acknowledged) {
    const int n = delivered[data];
    lost += n == 0;
    twice += n > 1;
    EXPECT_EQ(n, 1) << data;
    if (lost + twice > 5) break;
  }
  EXPECT_EQ(lost, 0);
  EXPECT_EQ(twice, 0);
  EXPECT_EQ(delivered.size(), acknowledged.size());
  EXPECT_TRUE(queue_files().empty()) << queue_files().front();
  EXPECT_EQ(log_text().find("set aside"), std::string::npos);
}

}  // namespace
