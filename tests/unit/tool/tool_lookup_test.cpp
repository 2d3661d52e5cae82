// ostrel-tool's lookup commands against the library's own code: an answer the
// tool encodes is verified and installed by the library, and the tool decodes
// the requests and cache files the library writes.  Bad input to each command
// is one refusal line, never a crash.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "deploy_values.h"
#include "redirect/address_table.h"
#include "redirect/lookup_answer.h"
#include "redirect/lookup_cache.h"
#include "redirect/lookup_request.h"
#include "redirect/name_key.h"
#include "redirect_fixture.h"
#include "scratch_dir.h"
#include "service/lookup_messages.h"
#include "tool_runner.h"

namespace {

using bytes_t = std::vector<uint8_t>;
using redirect_test::ip;

const uint8_t request_id[8] = {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8};
constexpr uint32_t request_time = 1700000000;

redirect::lookup_request library_request() {
  uint8_t record[46] = {46, 0, 'M', 'Z'};
  for (size_t i = 4; i < sizeof record; ++i) record[i] = static_cast<uint8_t>(i * 7);
  redirect::lookup_request r;
  redirect::build_lookup_request(r, request_id, request_time, redirect::lookup_client_tag, record,
                                 deploy::lookup_chain);
  return r;
}

bytes_t as_bytes(const std::string& s) { return bytes_t(s.begin(), s.end()); }

class ToolLookup : public redirect_test::redirect_fixture {
 protected:
  scratch_dir dir_;
};

TEST_F(ToolLookup, NamekeyGivesTheLibrarysKeys) {
  tool_result r = run_tool(dir_, "namekey abc Master.Legacy.Test");
  ASSERT_EQ(r.status, 0) << r.err;
  char expected[80];
  std::snprintf(expected, sizeof expected, "0x52A45F27 abc\n0x%08X Master.Legacy.Test\n",
                redirect::name_key("master.legacy.test"));
  EXPECT_EQ(r.out, expected);
  r = run_tool(dir_, "namekey --json abc");
  EXPECT_EQ(r.out, "{\"keys\": [{\"name\": \"abc\", \"key\": \"0x52A45F27\"}]}\n");
}

TEST_F(ToolLookup, EncodedAnswerIsInstalledByTheLibrary) {
  const redirect::lookup_request request = library_request();
  dir_.write("request.bin", bytes_t(request.bytes, request.bytes + request.length));
  dir_.write("table.txt", as_bytes("# name or key, then addresses\n"
                                   "master.legacy.test 10.20.30.40 10.20.30.39\n"
                                   "0x7FE59444 127.0.0.1\n"));
  tool_result r = run_tool(dir_, "lookup encode table.txt --request request.bin -o answer.bin");
  ASSERT_EQ(r.status, 0) << r.err;
  const bytes_t answer = [&] {
    std::ifstream in(dir_.path() + "/answer.bin", std::ios::binary);
    return bytes_t(std::istreambuf_iterator<char>(in), {});
  }();
  ASSERT_GE(answer.size(), 30u);
  ASSERT_EQ(redirect::verify_and_install(answer.data() + 6, answer.size() - 6, request.id,
                                         request.time, request.tag, true), 0);
  uint32_t got = 0;
  ASSERT_EQ(redirect::first_address(redirect::name_key("master.legacy.test"), &got), 0);
  EXPECT_EQ(got, ip(10, 20, 30, 40));
  ASSERT_EQ(redirect::first_address(redirect::stats_web_host_key, &got), 0);
  EXPECT_EQ(got, ip(127, 0, 0, 1));

  // The same answer, hex from standard input, decoded against its request.
  r = run_tool(dir_, "lookup encode - --id a1a2a3a4a5a6a7a8 --time 1700000000 "
                    "--nonce 0102030405060708 < table.txt");
  ASSERT_EQ(r.status, 0) << r.err;
  dir_.write("answer.hex", as_bytes(r.out));
  r = run_tool(dir_, "lookup decode --request request.bin answer.hex");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("nonce 0102030405060708, code verifies"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" 10.20.30.40 10.20.30.39\n"), std::string::npos) << r.out;
}

TEST_F(ToolLookup, DecodesTheLibrarysRequestAndCacheFile) {
  const redirect::lookup_request request = library_request();
  dir_.write("request.bin", bytes_t(request.bytes, request.bytes + request.length));
  tool_result r = run_tool(dir_, "lookup decode --json request.bin");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"id\": \"a1a2a3a4a5a6a7a8\", \"time\": 1700000000, \"tag\": \"0x51816BAC\""),
            std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"host_image_record\": \"2e004d5a"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"code_ok\": true"), std::string::npos) << r.out;

  service::lookup_payload payload;
  payload.add_record(0x00, 0x11223344, {}, {payload.address_number(ip(192, 0, 2, 7))});
  payload.add_record(0x20, 0x55667788, {payload.address_number(ip(192, 0, 2, 8)), 1},
                     {payload.address_number(ip(192, 0, 2, 9)), 1});
  const uint8_t nonce[8] = {9, 9, 9, 9, 9, 9, 9, 9};
  const bytes_t answer = service::build_lookup_answer(deploy::lookup_chain, request.id, request.time,
                                                      request.tag, nonce, payload.bytes());
  bytes_t file(redirect::lookup_cache_max_size);
  file.resize(redirect::format_cache(request, answer.data(), answer.size(), file.data()));
  dir_.write("network_0_x", file);
  r = run_tool(dir_, "cache decode --json network_0_x");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"code_ok\": true, \"payload_valid\": true"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("{\"key\": \"0x11223344\", \"addresses\": [\"192.0.2.7\"]"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("{\"key\": \"0x55667788\", \"addresses\": [\"192.0.2.9\", \"192.0.2.7\"], "
                       "\"aux_first\": \"192.0.2.8\", \"aux_second\": \"192.0.2.7\"}"),
            std::string::npos) << r.out;
  r = run_tool(dir_, "cache decode - < network_0_x");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("look-up cache file, " + std::to_string(file.size()) +
                       " bytes: request id a1a2a3a4a5a6a7a8, time 1700000000 (2023-11-14 22:13:20 UTC"),
            std::string::npos) << r.out;
}

TEST_F(ToolLookup, BadInputIsOneRefusalLine) {
  const redirect::lookup_request request = library_request();
  bytes_t forged(request.bytes, request.bytes + request.length);
  forged.back() ^= 1;
  dir_.write("forged.bin", forged);
  dir_.write("short.bin", as_bytes("HHHL3O"));
  dir_.write("odd.bin", as_bytes("HHHL3X123"));
  dir_.write("empty.bin", {});
  bytes_t cache = as_bytes("HTI1");
  cache.resize(60, 0);
  dir_.write("cache.bin", cache);
  dir_.write("bad_table.txt", as_bytes("master.legacy.test 10.20.30.400\n"));
  dir_.write("bad.conf", as_bytes("lookup_chain = 1 2 3\n"));
  const struct {
    const char* arguments;
    const char* text;
    int status;
  } cases[] = {
      {"lookup decode forged.bin", "the request's code does not verify", 1},
      {"lookup decode short.bin --id 0000000000000000 --time 1", "an answer holds 30 to 2000 bytes", 1},
      {"lookup decode odd.bin", "unknown kind", 1},
      {"lookup decode empty.bin", "not a lookup datagram", 1},
      {"lookup decode - < short.bin", "give --request FILE, or --id and --time", 1},
      {"lookup decode missing.bin", "missing.bin: cannot open", 1},
      {"lookup decode --deploy bad.conf forged.bin", "no lookup_chain", 1},
      {"lookup encode bad_table.txt --id 0000000000000000 --time 1", "table line 1", 1},
      {"lookup encode bad_table.txt --request forged.bin", "does not verify", 1},
      {"cache decode cache.bin", "its length field says", 1},
      {"cache decode forged.bin", "not a look-up cache file", 1},
      {"lookup", "A subcommand is required", 2},
      {"namekey", "NAME is required", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    expect_refusal(run_tool(dir_, c.arguments), c.text, c.status);
  }
}

}  // namespace
