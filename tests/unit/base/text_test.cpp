// Bounded copy and formatting: every fixed text field relies on these being cut
// to fit, terminated, and never written past their size.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "base/text.h"

namespace {

constexpr char guard = '#';

// A field of `size` bytes followed by guard bytes that must survive.
struct field {
  char bytes[64];
  field() { std::memset(bytes, guard, sizeof bytes); }
  bool guard_intact(size_t size) const {
    for (size_t i = size; i < sizeof bytes; ++i)
      if (bytes[i] != guard) return false;
    return true;
  }
};

TEST(Text, FormatBounded) {
  const struct {
    size_t size;
    const char* value;
    const char* expected;
    bool cut;
  } cases[] = {
      {10, "abc", "<abc>", false},
      {6, "abc", "<abc>", false},     // exactly fills the field
      {5, "abc", "<abc", true},       // one short: cut, terminated at size - 1
      {3, "abcdef", "<a", true},
      {1, "abc", "", true},           // room for the terminator only
  };
  for (const auto& c : cases) {
    field f;
    int n = text::format_bounded(f.bytes, c.size, "<%s>", c.value);
    EXPECT_STREQ(f.bytes, c.expected) << c.size;
    EXPECT_EQ(f.bytes[c.size - 1], '\0') << c.size;
    EXPECT_TRUE(f.guard_intact(c.size)) << c.size;
    if (c.cut)
      EXPECT_LT(n, 0) << c.size;
    else
      EXPECT_EQ(n, static_cast<int>(std::strlen(c.expected))) << c.size;
  }

  field empty;
  EXPECT_EQ(text::format_bounded(empty.bytes, 1, "%s", ""), 0);
  EXPECT_STREQ(empty.bytes, "");
}

TEST(Text, CopyBounded) {
  const struct {
    size_t size;
    const char* source;
    size_t count;  // SIZE_MAX for the whole source
    const char* expected;
    int result;
  } cases[] = {
      {10, "hello", SIZE_MAX, "hello", 0},
      {6, "hello", SIZE_MAX, "hello", 0},
      {5, "hello", SIZE_MAX, "hell", 1},
      {1, "hello", SIZE_MAX, "", 1},
      {1, "", SIZE_MAX, "", 0},
      {10, "hello", 3, "hel", 0},   // a run shorter than the field
      {3, "hello", 4, "he", 1},     // a run longer than the field
      {10, "hi", 5, "hi", 0},       // the source's NUL ends the run early
  };
  for (const auto& c : cases) {
    field f;
    int rc = c.count == SIZE_MAX ? text::copy_bounded(f.bytes, c.size, c.source)
                                 : text::copy_bounded_n(f.bytes, c.size, c.source, c.count);
    EXPECT_EQ(rc, c.result) << c.source << " into " << c.size;
    EXPECT_STREQ(f.bytes, c.expected) << c.source << " into " << c.size;
    EXPECT_TRUE(f.guard_intact(c.size)) << c.source << " into " << c.size;
  }
}

}  // namespace
