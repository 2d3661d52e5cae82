// The redirection table: "bf2web" choices, forward addresses with their port
// arithmetic, inet_addr-compatible address text, and readers racing a writer.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "redirect/redirection_table.h"

namespace {

void set(const char* key, const std::string& value) {
  std::vector<char> copy(value.begin(), value.end());
  copy.push_back('\0');
  redirect::redirection_entry(key, copy.data());
}

std::string lookup_name() {
  char name[redirect::stats_name_size];
  redirect::stats_lookup_name(name);
  return name;
}

class RedirectionTable : public ::testing::Test {
 protected:
  void SetUp() override { redirect::redirection_reset(); }
  void TearDown() override { redirect::redirection_reset(); }
};

TEST_F(RedirectionTable, Bf2webChoosesResolverOrLookupName) {
  const std::string name63(63, 'n');
  const struct {
    std::string value;
    int32_t flag;
    std::string name;
  } cases[] = {
      {"hosts", 1, ""},
      {"Hosts", 0, ""},
      {"hosts ", 0, ""},
      {"lookup:stats.example.test", 0, "stats.example.test"},
      {"lookup:", 0, ""},
      {"Lookup:x", 0, ""},
      {"", 0, ""},
      {"lookup:" + name63, 0, name63},
      {"lookup:" + name63 + "x", 0, ""},  // too long for the field: refused, not cut
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    set("bf2web", "lookup:earlier.example.test");  // every line resets both fields
    set("bf2web", "hosts");
    set("bf2web", c.value);
    EXPECT_EQ(redirect::stats_resolver_flag(), c.flag);
    EXPECT_EQ(lookup_name(), c.name);
  }
}

TEST_F(RedirectionTable, ForwardAddressesFromValues) {
  const struct {
    const char* value;
    const char* address;  // nullptr: all ones
    uint8_t port_bytes[2];
  } cases[] = {
      {"192.0.2.7:27900", "192.0.2.7", {0x6C, 0xFC}},
      {"::192.0.2.7:29910::", "192.0.2.7", {0x74, 0xD6}},
      {"192.0.2.7:29910:5", "192.0.2.7", {0x74, 0xD6}},
      {"192.0.2.7:70000", "192.0.2.7", {0x11, 0x70}},  // 70000 & 0xFFFF = 4464
      {"192.0.2.7:-1", "192.0.2.7", {0xFF, 0xFF}},
      {"192.0.2.7: +80x", "192.0.2.7", {0x00, 0x50}},
      {"192.0.2.7:99999999999999999999", "192.0.2.7", {0xFF, 0xFF}},  // wraps, never overflows
      {"0x7f.1:80", "0x7f.1", {0x00, 0x50}},  // the system's reading of address text
      {"not-an-address:1234", nullptr, {0x04, 0xD2}},
  };
  for (const char* key : {"gsqr_mstr", "gsqr_key"}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(key) + " " + c.value);
      redirect::redirection_reset();
      set(key, c.value);
      redirect::forward_address f = std::strcmp(key, "gsqr_mstr") == 0
                                        ? redirect::master_forward()
                                        : redirect::key_forward();
      redirect::forward_address other = std::strcmp(key, "gsqr_mstr") == 0
                                            ? redirect::key_forward()
                                            : redirect::master_forward();
      EXPECT_EQ(f.family, 2);
      EXPECT_EQ(f.address, c.address ? inet_addr(c.address) : 0xFFFFFFFFu);
      uint8_t port[2];
      std::memcpy(port, &f.port, 2);
      EXPECT_EQ(port[0], c.port_bytes[0]);
      EXPECT_EQ(port[1], c.port_bytes[1]);
      EXPECT_EQ(other.port, 0);
    }
  }
}

TEST_F(RedirectionTable, ValueWithoutPortLeavesForwardingOff) {
  for (const char* value : {"192.0.2.7", "192.0.2.7:", ":::", "", "192.0.2.7:abc"}) {
    SCOPED_TRACE(value);
    set("gsqr_mstr", "10.0.0.1:1000");
    set("gsqr_mstr", value);
    EXPECT_EQ(redirect::master_forward().family, 2);
    EXPECT_EQ(redirect::master_forward().port, 0);
  }
}

TEST_F(RedirectionTable, OtherKeysAreIgnored) {
  for (const char* key : {"GSQR_MSTR", "gsqr_mstr ", "Bf2web", "gsqr", ""}) {
    set(key, "192.0.2.7:27900");
    set(key, "hosts");
  }
  EXPECT_EQ(redirect::master_forward().port, 0);
  EXPECT_EQ(redirect::key_forward().port, 0);
  EXPECT_EQ(redirect::stats_resolver_flag(), 0);
}

// Readers on other threads only ever see one of the values written whole.
TEST_F(RedirectionTable, ReadersNeverSeeHalfAValue) {
  const std::string long_name(63, 'a'), short_name(10, 'b');
  const uint32_t first = inet_addr("10.1.1.1"), second = inet_addr("10.2.2.2");
  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  auto reader = [&] {
    while (!done) {
      char name[redirect::stats_name_size];
      redirect::stats_lookup_name(name);
      std::string n = name;
      if (!n.empty() && n != long_name && n != short_name) ++torn;
      redirect::forward_address f = redirect::master_forward();
      bool known = (f.port == 0 && f.address == 0) ||
                   (f.address == first && f.port == htons(1111)) ||
                   (f.address == second && f.port == htons(2222));
      if (!known) ++torn;
    }
  };
  std::vector<std::thread> readers;
  for (int i = 0; i < 3; ++i) readers.emplace_back(reader);
  for (int i = 0; i < 20000; ++i) {
    set("bf2web", "lookup:" + (i % 2 ? long_name : short_name));
    set("gsqr_mstr", i % 2 ? "10.1.1.1:1111" : "10.2.2.2:2222");
  }
  done = true;
  for (auto& t : readers) t.join();
  EXPECT_EQ(torn.load(), 0);
}

}  // namespace
