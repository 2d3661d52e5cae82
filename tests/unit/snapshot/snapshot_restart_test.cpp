// What operators meet in the field, on the test clock: a restart with
// snapshots waiting before the server's scripts are ready, refusals counted
// across restarts, a full disk at start-up, files that ended processes left
// half-way, and queue files of the first version.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "platform/native/test_controls.h"
#include "snapshot/queue_file.h"
#include "snapshot_worker_fixture.h"

namespace {

using bytes_t = std::vector<uint8_t>;

bytes_t md5_of(const bytes_t& data) {
  unsigned char d[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EXPECT_EQ(EVP_Digest(data.data(), data.size(), d, &length, EVP_md5(), nullptr), 1);
  return bytes_t(d, d + length);
}

class SnapshotRestart : public snapshot_test::worker_fixture {
 protected:
  void TearDown() override {
    platform::test::set_disk_full(false);
    platform::test::clear_process_image_names();
    worker_fixture::TearDown();
  }
  bytes_t file_bytes(const std::string& name) const {
    std::ifstream in(queue_folder() / name, std::ios::binary);
    return bytes_t(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  void put_file(const std::string& name, const bytes_t& bytes) const {
    std::filesystem::create_directories(queue_folder());
    std::ofstream out(queue_folder() / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  void passes(uint64_t from, uint64_t to) {
    for (uint64_t now = from; now < to; ++now) snapshot::worker_pass(state_, now);
  }
};

// A server restarted with snapshots waiting, whose scripts call gpaInit only
// 30 s later: until then the provider ID is empty and nothing goes out, so no
// snapshot spends a refusal on a check value made without it.
TEST_F(SnapshotRestart, RestoredSnapshotsWaitForGpaInit) {
  for (const char* data : {"round-1", "round-2", "round-3"}) submit_kept(data);
  block_->provider_id[0] = '\0';
  block_->start_time = 0;
  restart();
  ASSERT_EQ(snapshot::queue_count(), 3u);
  passes(0, 30);
  EXPECT_TRUE(web_.snapshots().empty());
  EXPECT_TRUE(web_.rejections().empty());
  EXPECT_EQ(count_of(log_text(), "nothing is sent before the server's scripts have called gpaInit"), 1);

  text::copy_bounded(block_->provider_id, sizeof block_->provider_id, snapshot_test::provider);
  block_->start_time = 1799990030;
  passes(30, 40);
  EXPECT_EQ(arrived(), (std::vector<std::string>{"round-1", "round-2", "round-3"}));
  EXPECT_TRUE(web_.rejections().empty());
  EXPECT_EQ(log_text().find("discarded"), std::string::npos);
  EXPECT_TRUE(queue_files().empty());
}

// A poison snapshot leaves after three refusals in all, however often the
// server restarts in between; the count is in its file.
TEST_F(SnapshotRestart, RefusalsAreCountedAcrossRestarts) {
  web_.refuse_data("poison", 400);
  submit_kept("poison");
  submit_kept("good");
  uint64_t now = 100;
  for (int refusal = 1; refusal <= 2; ++refusal) {
    snapshot::worker_pass(state_, now += 10);
    ASSERT_EQ(web_.rejections().size(), static_cast<size_t>(refusal));
    const bytes_t file = file_bytes("queued-00.hsq");
    ASSERT_GE(file.size(), snapshot::qf_body);
    EXPECT_EQ(bytes::load_u32le(file.data() + snapshot::qf_refusals), static_cast<uint32_t>(refusal));
    restart();
  }
  passes(now + 10, now + 40);
  EXPECT_EQ(web_.rejections().size(), 3u);
  EXPECT_EQ(arrived(), std::vector<std::string>{"good"});
  EXPECT_EQ(count_of(log_text(), "discarded: refused 3 times"), 1);
  EXPECT_TRUE(queue_files().empty());
}

// A start-up on a full disk cannot take the files over: each stays as it
// was, whole, for a later start, and the log says so once.
TEST_F(SnapshotRestart, FullDiskAtStartUpLeavesEveryFileAsItWas) {
  submit_kept("round-1");
  submit_kept("round-2");
  const bytes_t first = file_bytes("queued-00.hsq"), second = file_bytes("queued-01.hsq");
  platform::test::set_disk_full(true);
  restart();
  EXPECT_EQ(snapshot::queue_count(), 0u);
  EXPECT_EQ(file_bytes("queued-00.hsq"), first);
  EXPECT_EQ(file_bytes("queued-01.hsq"), second);
  EXPECT_EQ(queue_files(), (std::vector<std::string>{"queued-00.hsq", "queued-01.hsq"}));
  EXPECT_EQ(count_of(log_text(), "2 queue files left as they are for a later start"), 1);

  platform::test::set_disk_full(false);
  restart();
  passes(0, 5);
  EXPECT_EQ(arrived(), (std::vector<std::string>{"round-1", "round-2"}));
  EXPECT_TRUE(queue_files().empty());
}

// What ended processes leave half-way, as the next start-up explains it; a
// running process's files are its own.
TEST_F(SnapshotRestart, FilesThatEndedProcessesLeftHalfWay) {
  submit_kept("taken");
  submit_kept("sending");
  submit_kept("theirs");
  const bytes_t taken = file_bytes("queued-00.hsq"), sending = file_bytes("queued-01.hsq"),
                theirs = file_bytes("queued-02.hsq");
  for (const char* name : {"queued-00.hsq", "queued-01.hsq", "queued-02.hsq"})
    std::filesystem::remove(queue_folder() / name);
  platform::test::set_process_image_name(4343, "\\Device\\HarddiskVolume1\\w32ded\\game.exe");
  put_file("queued.4242.take", taken);                   // ended while taking over: restored
  put_file("queued.4242.send", sending);                 // ended while sending: dropped
  put_file("queued.4242.0badf00d.tmp", {'H', 'S', 'Q'}); // ended while writing: removed
  put_file("queued.4343.take", theirs);                  // still runs: left alone
  put_file("queued.4343.0badf00d.tmp", {'H', 'S', 'Q'});
  put_file("notes.txt", {'x'});                          // not ours to explain
  restart();
  passes(0, 5);
  EXPECT_EQ(arrived(), std::vector<std::string>{"taken"});
  const std::string log = log_text();
  EXPECT_NE(log.find("discarded: it was being sent when its server stopped (queued.4242.send), "
                     "and the service may have it"),
            std::string::npos)
      << log;
  EXPECT_EQ(queue_files(),
            (std::vector<std::string>{"notes.txt", "queued.4343.0badf00d.tmp", "queued.4343.take"}));
  EXPECT_EQ(file_bytes("queued.4343.take"), theirs);
}

// Files of the first version, built here by hand (the check by OpenSSL's
// MD5), are still restored; the files written now carry the refusal count
// under a check that covers it.
TEST_F(SnapshotRestart, QueueFilesOfBothVersions) {
  const bytes_t body(70, 'v');
  bytes_t v1 = {'H', 'S', 'Q', '1'};
  for (uint32_t field : {7u, snapshot_test::test_date, 70u, 4242u}) {
    uint8_t b[4];
    bytes::store_u32le(b, field);
    v1.insert(v1.end(), b, b + 4);
  }
  bytes_t covered = v1;
  covered.insert(covered.end(), body.begin(), body.end());
  const bytes_t check = md5_of(covered);
  v1.insert(v1.end(), check.begin(), check.end());
  v1.insert(v1.end(), body.begin(), body.end());
  put_file("queued-05.hsq", v1);
  restart();
  snapshot::snapshot_record r;
  ASSERT_EQ(snapshot::dequeue(&r), 0);
  EXPECT_EQ(bytes_t(r.buffer + r.header_reserve, r.buffer + r.header_reserve + r.body_length), body);
  EXPECT_EQ(r.refusals, 0u);
  ASSERT_GE(r.file_number, 0);
  const bytes_t v2 = file_bytes("queued-0" + std::to_string(r.file_number) + ".hsq");
  ASSERT_EQ(v2.size(), 40u + 70u);
  EXPECT_EQ(std::string(v2.begin(), v2.begin() + 4), "HSQ2");
  EXPECT_EQ(bytes::load_u32le(v2.data() + 16), platform::process_id()) << "taken over";
  bytes_t v2_covered(v2.begin(), v2.begin() + 24);
  v2_covered.insert(v2_covered.end(), v2.begin() + 40, v2.end());
  EXPECT_EQ(bytes_t(v2.begin() + 24, v2.begin() + 40), md5_of(v2_covered));
  snapshot::forget_snapshot(r);
  snapshot::release_snapshot(r);
}

}  // namespace
