// The reference log collector's own checks: the "HLD1" header and a printed
// line that no received byte can turn into terminal control.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "service/log_collector.h"

namespace {

std::vector<uint8_t> datagram(const std::string& head, const std::string& text) {
  std::vector<uint8_t> d(head.begin(), head.end());
  d.insert(d.end(), text.begin(), text.end());
  return d;
}

TEST(LogCollector, DecodesTheHeaderLittleEndian) {
  const std::string head("HLD1\x01\x02\xB7\x40\x10\x20\x30\x40\x11\x21\x31\x41\x34\x12\x00\x00", 20);
  service::log_record r;
  std::vector<uint8_t> d = datagram(head, "x\r\n");
  ASSERT_TRUE(service::decode_log_datagram(d.data(), d.size(), r));
  EXPECT_EQ(r.sequence, 0x0201);
  EXPECT_EQ(r.setup_value, 16567);
  EXPECT_EQ(r.setup_time, 0x40302010u);
  EXPECT_EQ(r.send_time, 0x41312111u);
  EXPECT_EQ(r.pid, 0x1234u);
  EXPECT_EQ(r.text, "x\r\n");

  d = datagram(head, "");
  ASSERT_TRUE(service::decode_log_datagram(d.data(), d.size(), r));
  EXPECT_EQ(r.text, "");
  EXPECT_FALSE(service::decode_log_datagram(d.data(), 19, r));
  d[3] = '2';
  EXPECT_FALSE(service::decode_log_datagram(d.data(), d.size(), r));
}

TEST(LogCollector, PrintedLinesEscapeControlBytes) {
  service::log_record r;
  r.sequence = 3;
  r.text = std::string("ok \x1b[2J\\\xff\0z\r\n", 13);
  std::string line = service::format_log_record(r);
  EXPECT_NE(line.find("seq=3"), std::string::npos);
  EXPECT_EQ(line.substr(line.find("| ") + 2), "ok \\x1b[2J\\x5c\\xff\\x00z");
}

}  // namespace
