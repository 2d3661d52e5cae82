// ostrel-tool's statistics commands against the library's own code: the tool
// reads the snapshot bodies and session requests the library writes, and
// checks a reply with the library's routine.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "scratch_dir.h"
#include "service/stats_messages.h"
#include "snapshot/session_messages.h"
#include "snapshot/snapshot_body.h"
#include "snapshot/snapshot_header.h"
#include "snapshot_fixture.h"
#include "tool_runner.h"

namespace {

using bytes_t = std::vector<uint8_t>;
using redirect_test::ip;

bytes_t as_bytes(const std::string& s) { return bytes_t(s.begin(), s.end()); }

class ToolStats : public snapshot_test::snapshot_fixture {
 protected:
  scratch_dir dir_;
};

TEST_F(ToolStats, DecodesTheLibrarysSnapshotAndSessionDatagrams) {
  const std::string data = "\\gamename\\ostrel\\players\\2";
  snapshot::snapshot_record record;
  ASSERT_EQ(snapshot::build_snapshot(record, reinterpret_cast<const uint8_t*>(data.data()), data.size(),
                                     ip(192, 168, 0, 7), ip(10, 1, 2, 3), 16567, 29900), 0);
  bytes_t body = as_bytes("HSNAP1");
  body.insert(body.end(), record.buffer + record.header_reserve,
              record.buffer + record.header_reserve + record.body_length);
  snapshot::release_snapshot(record);
  dir_.write("upload.bin", body);
  char tsdata[snapshot::tsdata_text_size];
  snapshot::tsdata_text(1799999990, 1799999995, 1799990000, snapshot_test::test_date,
                        snapshot_test::provider, tsdata);
  tool_result r = run_tool(dir_, std::string("snapshot decode upload.bin --provider other --provider ") +
                                     snapshot_test::provider + " --tsdata " + tsdata);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(std::string("snapshot of provider \"") + snapshot_test::provider +
                       "\": time 1800000000, game port 16567, query port 29900, server 10.1.2.3, "
                       "interface 192.168.0.7"),
            std::string::npos) << r.out;
  EXPECT_NE(r.out.find("service time 1799999995, exchange midpoint 1799999990, start time 1799990000"),
            std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"\\\\gamename\\\\ostrel\\\\players\\\\2\""), std::string::npos) << r.out;

  const snapshot::session_identity id{ip(192, 168, 0, 7), ip(10, 1, 2, 3), 16567, 29900};
  const uint8_t random[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  uint8_t request[snapshot::session_datagram_size];
  snapshot::build_session_request(request, id, 5, 1799990000, 1800000000, 4242, random,
                                  snapshot_test::provider);
  dir_.write("request.bin", bytes_t(request, request + sizeof request));
  r = run_tool(dir_, std::string("session decode --json request.bin --provider ") + snapshot_test::provider);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"time\": 1800000000, \"interface_address\": \"192.168.0.7\", \"server_address\": "
                       "\"10.1.2.3\", \"game_port\": 16567, \"query_port\": 29900, \"session_flags\": 5, "
                       "\"start_time\": 1799990000, \"process_id\": 4242, \"random\": \"0102030405060708\""),
            std::string::npos) << r.out;

  service::session_request_seen seen;
  ASSERT_TRUE(service::decode_session_request(snapshot_test::keys(), request, sizeof request,
                                              {snapshot_test::provider}, seen));
  service::session_reply_options grant;
  grant.service_time = 1800000007;
  grant.session_flags = 9;
  dir_.write("reply.bin", service::build_session_reply(snapshot_test::keys(), seen, grant));
  r = run_tool(dir_, std::string("session decode reply.bin --request request.bin --provider ") +
                         snapshot_test::provider);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("service time 1800000007, session flags 9"), std::string::npos) << r.out;
}

TEST_F(ToolStats, BadInputIsOneRefusalLine) {
  dir_.write("text.txt", as_bytes("hello\n"));
  dir_.write("hrsq.bin", as_bytes("HRSQ"));
  dir_.write("reply.bin", as_bytes("HRSR"));
  const struct {
    const char* arguments;
    const char* text;
  } cases[] = {
      {"snapshot decode text.txt --provider p", "body shorter than 64 bytes"},
      {"snapshot decode text.txt", "give the provider ID"},
      {"session decode hrsq.bin --provider p", "not a session request"},
      {"session decode reply.bin --provider p", "give --request FILE"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    expect_refusal(run_tool(dir_, c.arguments), c.text);
  }
}

// The queue folder the library keeps, as the tool lists and decodes it: a
// sound file, one that fails its check, one set aside and a stray temporary.
TEST_F(ToolStats, ListsAndDecodesTheQueueFolder) {
  for (const std::string data : {"round=1", "round=2"}) {
    snapshot::snapshot_record r;
    r.header_reserve = snapshot::header_reserve_size;
    r.sequence = snapshot::next_sequence();
    ASSERT_EQ(snapshot::build_snapshot(r, reinterpret_cast<const uint8_t*>(data.data()), data.size(),
                                       ip(192, 168, 0, 7), ip(10, 1, 2, 3), 16567, 29900), 0);
    ASSERT_EQ(snapshot::keep_snapshot(r), 0);
    snapshot::release_snapshot(r);
  }
  const std::filesystem::path queue = queue_folder();
  std::filesystem::resize_file(queue / "queued-01.hsq", 80);
  std::ofstream(queue / "queued-05.hsq.bad") << "old";
  std::ofstream(queue / "queued-06.hsq.123.0000abcd.tmp") << "torn";

  // Given the per-user folder, the tool finds the queue folder in it.
  const std::string user_folder = (std::filesystem::path(folder_.path()) / "Ostrel").string();
  tool_result r = run_tool(dir_, "snapshot queue " + user_folder + " --provider " + snapshot_test::provider);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("queue folder " + queue.string() + ": 4 files\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  queued-00.hsq: snapshot 1, submitted 2027-01-15 08:00:00 UTC, body 71 bytes\n"
                       "    provider \"" + std::string(snapshot_test::provider) +
                       "\", data (7 bytes): \"round=1\"\n"),
            std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  queued-01.hsq (80 bytes): cut short\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  queued-05.hsq.bad (3 bytes): set aside\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("temporary\n"), std::string::npos) << r.out;

  r = run_tool(dir_, "snapshot queue --json " + queue.string());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("{\"name\": \"queued-00.hsq\", \"size\": 111, \"state\": \"queued\", "
                       "\"sequence\": 1, \"submitted\": 1800000000, \"body_length\": 71}, "
                       "{\"name\": \"queued-01.hsq\", \"size\": 80, \"state\": \"cut short\"}"),
            std::string::npos) << r.out;

  r = run_tool(dir_, "snapshot queue " + dir_.path() + "/absent");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot list the folder"), std::string::npos) << r.err;
}

}  // namespace
