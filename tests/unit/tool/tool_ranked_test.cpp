// ostrel-tool's ranked list commands against the library's own code: a blob
// the tool signs is verified and installed by the library, the tool reads the
// ranked list file the library writes, and bad input is one refusal line.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "ranked/ranked_blob.h"
#include "ranked/ranked_file.h"
#include "redirect_fixture.h"
#include "scratch_dir.h"
#include "tool_runner.h"

namespace {

using bytes_t = std::vector<uint8_t>;
using redirect_test::ip;

bytes_t read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return bytes_t(std::istreambuf_iterator<char>(in), {});
}
bytes_t as_bytes(const std::string& s) { return bytes_t(s.begin(), s.end()); }

class ToolRanked : public redirect_test::redirect_fixture {
 protected:
  scratch_dir dir_;
};

TEST_F(ToolRanked, SignedBlobIsInstalledByTheLibraryAndItsFileIsRead) {
  dir_.write("list.txt", as_bytes("# address[:port] [flags]\n192.0.2.7\n192.0.2.8:16568 3\n"));
  tool_result r = run_tool(dir_, "ranked sign list.txt --serial 7 -o blob.bin");
  ASSERT_EQ(r.status, 0) << r.err;
  bytes_t blob = read_all(dir_.path() + "/blob.bin");
  ASSERT_EQ(ranked::verify_ranked_blob(blob.data(), blob.size()), 0);
  bytes_t table(ranked::ranked_table_size);
  bytes_t copy = blob;
  ASSERT_EQ(ranked::build_ranked_table(copy.data(), copy.size(), table.data()), 2u);
  uint8_t key[ranked::ranked_entry_size];
  ranked::ranked_key(ip(192, 0, 2, 7), bytes::to_network_u16(16567), key);
  EXPECT_EQ(std::memcmp(table.data(), key, sizeof key), 0);

  // The file the library writes, read back by the tool.
  ASSERT_EQ(ranked::write_ranked_file(blob.data(), blob.size()), 0);
  const std::string file = folder_.path() + "/Ostrel/" + ranked::ranked_file_name;
  ASSERT_TRUE(std::filesystem::exists(file)) << file;
  r = run_tool(dir_, "ranked decode --json '" + file + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"serial\": 7, \"default_port\": 16567, \"servers\": [{\"address\": \"192.0.2.7\", "
                       "\"port\": 16567, \"flags\": 1}, {\"address\": \"192.0.2.8\", \"port\": 16568, "
                       "\"flags\": 3}]"),
            std::string::npos) << r.out;
}

TEST_F(ToolRanked, BadInputIsOneRefusalLine) {
  dir_.write("list.txt", as_bytes("192.0.2.7\n"));
  ASSERT_EQ(run_tool(dir_, "ranked sign list.txt -o blob.bin").status, 0);
  bytes_t tampered = read_all(dir_.path() + "/blob.bin");
  tampered.back() ^= 1;
  dir_.write("tampered.bin", tampered);
  dir_.write("bad_list.txt", as_bytes("192.0.2.7:0\n"));
  // Flags 0 off the default port would be a 0 record byte, the end of the list.
  dir_.write("flags_0.txt", as_bytes("192.0.2.7 0\n192.0.2.8:16568 0\n192.0.2.9\n"));
  dir_.write("text.txt", as_bytes("hello\n"));
  dir_.write("other.conf", as_bytes("ranked_key_chain = 1 2 3 4\nranked_mac_chain = 1 2 3 4\n"
                                    "ranked_feedback = 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16\n"));
  const struct {
    const char* arguments;
    const char* text;
  } cases[] = {
      {"ranked verify tampered.bin", "does not verify"},
      {"ranked verify text.txt", "does not verify"},
      {"ranked sign bad_list.txt", "list line 1: \"0\" is not a port"},
      {"ranked sign flags_0.txt", "list line 2: flags 0 only for a server on the default port (16567)"},
      {"ranked decode text.txt", "not a \"rankedservers\" file"},
      {"ranked verify --deploy other.conf tampered.bin", "not this build's"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    expect_refusal(run_tool(dir_, c.arguments), c.text);
  }
}

}  // namespace
