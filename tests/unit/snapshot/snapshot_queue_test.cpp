// The snapshot queue's rules as a table of submissions, the queue folder
// across restarts, and the provider ID file's rules as a table of folders.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "snapshot/provider_id.h"
#include "snapshot/queue_file.h"
#include "snapshot/snapshot_queue.h"
#include "snapshot_fixture.h"

namespace {

class SnapshotQueue : public snapshot_test::snapshot_fixture {
 protected:
  // A record with a real buffer, as build_snapshot leaves it.
  static snapshot::snapshot_record record(uint32_t sequence, uint32_t body_length = 64) {
    snapshot::snapshot_record r;
    r.buffer = new uint8_t[body_length + 1];
    r.body_length = body_length;
    r.sequence = sequence;
    return r;
  }
  static std::vector<uint32_t> drain() {
    std::vector<uint32_t> order;
    snapshot::snapshot_record r;
    while (snapshot::dequeue(&r) == 0) {
      order.push_back(r.sequence);
      snapshot::release_snapshot(r);
    }
    return order;
  }
};

TEST_F(SnapshotQueue, OrderEvictionAndRefusal) {
  const struct {
    const char* what;
    std::vector<uint32_t> submitted;
    std::vector<int> results;
    std::vector<uint32_t> drained;
    int dropped_lines;
  } cases[] = {
      {"oldest first whatever the order of arrival", {5, 2, 9}, {0, 0, 0}, {2, 5, 9}, 0},
      {"eleven: the first is dropped and logged",
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11},
       {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       {2, 3, 4, 5, 6, 7, 8, 9, 10, 11},
       1},
      {"full: a record older than every queued one is refused",
       {11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 10},
       {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1},
       {11, 12, 13, 14, 15, 16, 17, 18, 19, 20},
       0},
      {"full: a record newer than the oldest takes its place",
       {11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 12},
       {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       {12, 12, 13, 14, 15, 16, 17, 18, 19, 20},
       1},
      {"a requeued record keeps its place before later ones", {7, 8, 3}, {0, 0, 0}, {3, 7, 8}, 0},
      {"sequence 0 is never taken", {0}, {1}, {}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    core::log_reset();
    std::filesystem::remove_all("logs/ostrel");
    std::filesystem::create_directories("logs/ostrel");
    for (size_t i = 0; i < c.submitted.size(); ++i) {
      snapshot::snapshot_record r = record(c.submitted[i], 64 + static_cast<uint32_t>(i));
      const int result = snapshot::enqueue(&r);
      EXPECT_EQ(result, c.results[i]) << "submission " << i;
      if (result != 0) snapshot::release_snapshot(r);
    }
    EXPECT_EQ(drain(), c.drained);
    EXPECT_EQ(count_of(log_text(), "discarded: queue full"), c.dropped_lines);
    if (c.dropped_lines) {
      const std::string line = "SNAPSHOT: snapshot " + std::to_string(c.submitted[0]) +
                               " (64 bytes) discarded: queue full";
      EXPECT_NE(log_text().find(line), std::string::npos);
    }
  }
}

TEST_F(SnapshotQueue, RefusalsThatLeaveTheQueueAlone) {
  EXPECT_EQ(snapshot::enqueue(nullptr), 1);
  snapshot::snapshot_record no_buffer;
  no_buffer.body_length = 64;
  no_buffer.sequence = 1;
  EXPECT_EQ(snapshot::enqueue(&no_buffer), 1);
  snapshot::snapshot_record empty_body = record(2, 64);
  empty_body.body_length = 0;
  EXPECT_EQ(snapshot::enqueue(&empty_body), 1);
  snapshot::release_snapshot(empty_body);
  EXPECT_EQ(snapshot::queue_count(), 0u);

  snapshot::snapshot_record untouched;
  untouched.sequence = 77;
  untouched.body_length = 5;
  EXPECT_EQ(snapshot::dequeue(&untouched), 1);
  EXPECT_EQ(untouched.sequence, 77u);
  EXPECT_EQ(untouched.body_length, 5u);

  // Without the lock (client mode) nothing is taken.
  platform::lock* lock = snapshot::snapshot_lock;
  snapshot::snapshot_lock = nullptr;
  snapshot::snapshot_record r = record(3);
  EXPECT_EQ(snapshot::enqueue(&r), 1);
  snapshot::release_snapshot(r);
  snapshot::snapshot_lock = lock;
}

TEST_F(SnapshotQueue, SequenceWrapsToOneAndTheCounterStaysZero) {
  snapshot::submission_counter = 0;
  EXPECT_EQ(snapshot::next_sequence(), 1u);
  EXPECT_EQ(snapshot::next_sequence(), 2u);
  snapshot::submission_counter = 0xFFFFFFFFu;
  EXPECT_EQ(snapshot::next_sequence(), 1u);
  EXPECT_EQ(snapshot::submission_counter, 0u);
  snapshot::submission_counter = 0;
}

// The queue folder, through the restart of a process: memory is gone, files
// stay, and start-up puts them back.
class SnapshotQueueFolder : public SnapshotQueue {
 protected:
  // A snapshot as the script submits it: numbered, kept, queued.
  static void submit(uint8_t fill, uint32_t body_length = 70) {
    snapshot::snapshot_record r;
    r.header_reserve = snapshot::header_reserve_size;
    r.buffer = new uint8_t[r.header_reserve + body_length];
    std::memset(r.buffer + r.header_reserve, fill, body_length);
    r.body_length = body_length;
    r.sequence = snapshot::next_sequence();
    snapshot::keep_snapshot(r);
    ASSERT_EQ(snapshot::enqueue(&r), 0);
  }
  static void restart() {
    snapshot::queue_reset();
    snapshot::queue_folder_reset();
    snapshot::submission_counter = 0;
    snapshot::restore_queue();
  }
  // The fill byte of each queued body, oldest first, with its sequence.
  static std::vector<std::pair<uint32_t, int>> drain_bodies() {
    std::vector<std::pair<uint32_t, int>> out;
    snapshot::snapshot_record r;
    while (snapshot::dequeue(&r) == 0) {
      out.emplace_back(r.sequence, r.buffer[r.header_reserve]);
      EXPECT_EQ(r.header_reserve, snapshot::header_reserve_size);
      EXPECT_EQ(r.body_length, 70u);
      snapshot::forget_snapshot(r);
      snapshot::release_snapshot(r);
    }
    return out;
  }
  std::vector<uint8_t> file_bytes(const std::string& name) const {
    std::ifstream in(queue_folder() / name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  void put_file(const std::string& name, const std::vector<uint8_t>& bytes) const {
    std::ofstream out(queue_folder() / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
};

TEST_F(SnapshotQueueFolder, SurvivesRestartsOldestFirstAheadOfNewOnes) {
  snapshot::submission_counter = 40;
  submit('a');
  submit('b');
  submit('c');
  EXPECT_EQ(queue_files(), (std::vector<std::string>{"queued-00.hsq", "queued-01.hsq", "queued-02.hsq"}));
  const std::vector<uint8_t> first = file_bytes("queued-00.hsq");
  ASSERT_EQ(first.size(), 40u + 70u);
  EXPECT_EQ(std::string(first.begin(), first.begin() + 4), "HSQ2");
  EXPECT_EQ(bytes::load_u32le(first.data() + 4), 41u);
  EXPECT_EQ(bytes::load_u32le(first.data() + 8), snapshot_test::test_date);
  EXPECT_EQ(bytes::load_u32le(first.data() + 12), 70u);
  EXPECT_EQ(bytes::load_u32le(first.data() + 16), platform::process_id());
  EXPECT_EQ(bytes::load_u32le(first.data() + 20), 0u) << "no refusal yet";
  EXPECT_EQ(std::vector<uint8_t>(first.begin() + 40, first.end()), std::vector<uint8_t>(70, 'a'));

  restart();
  EXPECT_NE(log_text().find("SNAPSHOT: 3 queued snapshots restored from the queue folder\r\n"),
            std::string::npos);
  submit('d');  // the new process's first submission comes after them
  restart();    // and a second restart keeps that order
  EXPECT_EQ(drain_bodies(), (std::vector<std::pair<uint32_t, int>>{{1, 'a'}, {2, 'b'}, {3, 'c'}, {4, 'd'}}));
  EXPECT_TRUE(queue_files().empty());

  // Beyond ten, the oldest are dropped and logged, and their files go.
  for (int i = 0; i < 10; ++i) submit(static_cast<uint8_t>('A' + i));
  snapshot::queue_reset();
  snapshot::queue_folder_reset();
  snapshot::submission_counter = 0;
  std::filesystem::copy_file(queue_folder() / "queued-00.hsq", queue_folder() / "queued-20.hsq");
  std::filesystem::copy_file(queue_folder() / "queued-01.hsq", queue_folder() / "queued-21.hsq");
  snapshot::restore_queue();
  EXPECT_EQ(snapshot::queue_count(), 10u);
  EXPECT_EQ(count_of(log_text(), "discarded: queue full"), 2);
  EXPECT_EQ(queue_files().size(), 10u);
}

TEST_F(SnapshotQueueFolder, BadFilesAreSetAsideNeverSent) {
  submit('s');
  const std::vector<uint8_t> sound = file_bytes("queued-00.hsq");
  std::vector<uint8_t> flipped = sound;
  flipped.back() ^= 1;
  std::vector<uint8_t> renumbered = sound;  // the head is checked too
  renumbered[4] ^= 1;
  std::vector<uint8_t> longer = sound;
  longer.push_back(0);
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* why;
  } cases[] = {
      {"queued-01.hsq", std::vector<uint8_t>(sound.begin(), sound.begin() + 50), "cut short"},
      {"queued-02.hsq", std::vector<uint8_t>(sound.begin(), sound.begin() + 3), "cut short"},
      {"queued-03.hsq", {'H', 'T', 'I', '1', 0, 0, 0, 0}, "not a queue file"},
      {"queued-04.hsq", flipped, "check digest does not match"},
      {"queued-05.hsq", renumbered, "check digest does not match"},
      {"queued-06.hsq", longer, "length does not match"},
      {"queued-07.hsq", {}, "cut short"},
  };
  for (const auto& c : cases) put_file(c.name, c.bytes);
  restart();
  EXPECT_EQ(snapshot::queue_count(), 1u);
  const std::string log = log_text();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_NE(log.find(std::string("SNAPSHOT: queue file snapshots\\") + c.name + " set aside (" +
                       c.why + "), never to be sent\r\n"),
              std::string::npos);
    EXPECT_EQ(file_bytes(std::string(c.name) + ".bad"), c.bytes);
  }
  EXPECT_NE(log.find("SNAPSHOT: 1 queued snapshot restored"), std::string::npos);
  // A set-aside name is free again for new snapshots.
  submit('t');
  EXPECT_EQ(drain_bodies(), (std::vector<std::pair<uint32_t, int>>{{1, 's'}, {2, 't'}}));
}

// Two servers of one user share the folder: the files of one that still runs
// are its own, and a start-up of the other leaves them alone.
TEST_F(SnapshotQueueFolder, FilesOfAnotherRunningServerAreLeftToIt) {
  submit('o');
  std::vector<uint8_t> other = file_bytes("queued-00.hsq");
  snapshot::format_queue_head(other.data(), 9, snapshot_test::test_date, 70, 4242, 0);
  put_file("queued-00.hsq", other);
  platform::test::set_process_image_name(4242, "\\Device\\HarddiskVolume1\\w32ded\\game.exe");
  restart();
  EXPECT_EQ(snapshot::queue_count(), 0u);
  EXPECT_EQ(queue_files(), std::vector<std::string>{"queued-00.hsq"});
  submit('n');  // takes another number: the running server's file stays whole
  EXPECT_EQ(file_bytes("queued-00.hsq"), other);
  platform::test::clear_process_image_names();  // it has ended
  restart();
  EXPECT_EQ(drain_bodies(), (std::vector<std::pair<uint32_t, int>>{{1, 'n'}, {2, 'o'}}))
      << "in the order of the numbers they were written with";
}

// Another server of the same user writes the very number this one is about
// to take, just before it takes it: the claim fails and moves on to the next
// number, and the other's file stays whole.  A look for the name, then a
// move that replaces, would overwrite it.
TEST_F(SnapshotQueueFolder, AnotherServerWritingTheSameNumberFirstKeepsItsFile) {
  submit('x');
  std::vector<uint8_t> theirs = file_bytes("queued-00.hsq");
  snapshot::format_queue_head(theirs.data(), 9, snapshot_test::test_date, 70, 4343, 0);
  restart();  // takes 'x' over as number 00 again; start from an empty folder
  drain_bodies();
  platform::test::set_process_image_name(4343, "\\Device\\HarddiskVolume1\\w32ded\\game.exe");
  bool written = false;
  platform::test::set_file_change_hook([&](const std::string& target) {
    if (written || target.find("queued-00.hsq") == std::string::npos) return;
    written = true;
    put_file("queued-00.hsq", theirs);
  });
  submit('o');
  platform::test::set_file_change_hook(nullptr);
  EXPECT_TRUE(written);
  EXPECT_EQ(file_bytes("queued-00.hsq"), theirs);
  EXPECT_EQ(queue_files(), (std::vector<std::string>{"queued-00.hsq", "queued-01.hsq"}));
  EXPECT_EQ(drain_bodies(), (std::vector<std::pair<uint32_t, int>>{{2, 'o'}}));
  EXPECT_EQ(file_bytes("queued-00.hsq"), theirs) << "delivering ours leaves theirs";
  platform::test::clear_process_image_names();
}

TEST_F(SnapshotQueueFolder, FolderThatCannotBeWrittenLeavesTheQueueInMemory) {
  // A per-user folder below a plain file can be neither made nor written.
  working_folder::write("blocker", "not a folder");
  const std::string below = folder_.path() + "/blocker/appdata";
  platform::test::set_appdata_folder(below.c_str());
  submit('m');
  submit('n');
  EXPECT_EQ(count_of(log_text(), "queued snapshots are kept in memory only"), 1);
  EXPECT_EQ(drain_bodies(), (std::vector<std::pair<uint32_t, int>>{{1, 'm'}, {2, 'n'}}));
  restart();
  EXPECT_EQ(snapshot::queue_count(), 0u);
}

class ProviderId : public snapshot_test::snapshot_fixture {};

TEST_F(ProviderId, FirstFileThatOpensWhiteSpaceOutCutTo299) {
  const std::string first = "python/bf2/ostrel/ostrelProviderID.sec";
  const std::string second = "python/bf2/ostrel/stats/ostrelProviderID.sec";
  const std::string third = "python/bf2/stats/ostrelProviderID.sec";
  const std::string thousand(1000, 'k');
  const struct {
    const char* what;
    std::vector<std::pair<std::string, std::string>> files;
    std::string expected;
  } cases[] = {
      {"no file", {}, ""},
      {"white space and NULs left out",
       {{first, std::string(" ab\tc\r\nd e\n\0f ", 15)}},
       "abcdef"},
      {"1000 characters give the first 299", {{first, thousand}}, std::string(299, 'k')},
      {"299 after white space", {{first, " " + std::string(150, 'a') + "\n" + std::string(200, 'b')}},
       std::string(150, 'a') + std::string(149, 'b')},
      {"the third path alone", {{third, "third-id\n"}}, "third-id"},
      {"the second before the third", {{second, "second"}, {third, "third"}}, "second"},
      {"the first exists but is empty", {{first, ""}, {second, "second"}, {third, "third"}}, ""},
      {"the first holds only white space", {{first, " \r\n"}, {third, "third"}}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all("python");
    for (const auto& [path, content] : c.files) working_folder::write(path, content);
    char out[snapshot::provider_id_size];
    std::memset(out, 'x', sizeof out);
    EXPECT_EQ(snapshot::load_provider_id(out), out);
    EXPECT_EQ(std::string(out), c.expected);
  }
  std::filesystem::remove_all("python");
}

}  // namespace
