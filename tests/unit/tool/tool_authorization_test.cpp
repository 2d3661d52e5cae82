// ostrel-tool challenge check and response build against the library's own
// side of the handshake: a challenge composed by the library is read back
// field by field, and the response the tool builds is accepted by the
// library's check with the flags and command granted.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "script/challenge.h"
#include "scratch_dir.h"
#include "tool_runner.h"

namespace {

using bytes_t = std::vector<uint8_t>;

bytes_t as_bytes(const std::string& s) { return bytes_t(s.begin(), s.end()); }

bytes_t from_hex(const std::string& hex) {
  bytes_t out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return out;
}

std::string hex_of(const uint8_t* data, size_t size) {
  std::string out;
  char two[3];
  for (size_t i = 0; i < size; ++i) {
    std::snprintf(two, sizeof two, "%02x", data[i]);
    out += two;
  }
  return out;
}

// A dedicated server's current challenge, composed by the library over the
// executable file in the scratch folder.
class ToolAuthorization : public ::testing::Test {
 protected:
  scratch_dir dir_;
  std::string time_text_ = "1700000123";
  std::string mod_ = "mods/bf2";
  std::string provider_ = "provider-secret-1";
  script::challenge_state state_{};
  uint8_t executable_[16] = {};
  std::string challenge_;

  void SetUp() override {
    bytes_t exe(9000);
    for (size_t i = 0; i < exe.size(); ++i) exe[i] = static_cast<uint8_t>(i * 13 + 5);
    const std::string path = dir_.write("server.exe", exe);
    std::FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    script::file_digest(f, executable_);
    std::fclose(f);
    for (int i = 0; i < 16; ++i) state_.nonce[i] = static_cast<uint8_t>(0x31 + i * 11);
    // Server 10.0.0.5, interface 192.168.1.20, as stored (network order).
    state_.server = {16567, 29900, 0x0500000A, 0x1401A8C0, provider_.c_str()};
    state_.time = 1700000123;
    state_.time_text = time_text_.c_str();
    state_.mod_directory = mod_.c_str();
    char out[script::challenge_length + 1];
    script::compose_challenge(state_, executable_, out);
    challenge_ = out;
    dir_.write("challenge.txt", as_bytes(challenge_ + "\n"));
  }

  std::string knowledge() const {
    return " --provider other --provider " + provider_ + " --mod mods/xpack --mod " + mod_;
  }
};

TEST_F(ToolAuthorization, ReadsTheLibrarysChallengeFieldByField) {
  tool_result r = run_tool(dir_, "challenge check challenge.txt --exe server.exe" + knowledge());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.err.empty()) << r.err;
  for (const std::string& line :
       {std::string("challenge verifies\n"), "  nonce               " + challenge_.substr(3, 32) + "\n",
        std::string("  time                1700000123 (2023-11-14 22:15:23 UTC)\n"),
        std::string("  game port           16567\n"), std::string("  query port          29900\n"),
        std::string("  interface address   192.168.1.20\n"), std::string("  server address      10.0.0.5\n"),
        "  identity digest     " + challenge_.substr(67, 32) + " verifies\n",
        "  mod digest          " + challenge_.substr(99, 16) + " verifies for mod directory \"mods/bf2\"\n",
        "  provider digest     " + challenge_.substr(115, 32) +
            " verifies for provider ID \"provider-secret-1\"\n",
        "  executable check    " + challenge_.substr(147, 32) + " verifies for executable MD5 " +
            hex_of(executable_, 16) + "\n"})
    EXPECT_NE(r.out.find(line), std::string::npos) << line << "in\n" << r.out;

  // The same from standard input, with the MD5 given, as JSON.
  r = run_tool(dir_, "challenge check - --json --exe-md5 " + hex_of(executable_, 16) + knowledge() +
                         " < challenge.txt");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("{\"verifies\": true, \"nonce\": \"" + challenge_.substr(3, 32) +
                       "\", \"time\": 1700000123, \"time_utc\": \"2023-11-14 22:15:23 UTC\", \"game_port\": "
                       "16567, \"query_port\": 29900, \"interface_address\": \"192.168.1.20\", "
                       "\"server_address\": \"10.0.0.5\""),
            std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"mod_ok\": true, \"mod_directory\": \"mods/bf2\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"provider_ok\": true, \"provider_id\": \"provider-secret-1\""), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\"executable_ok\": true"), std::string::npos) << r.out;
}

TEST_F(ToolAuthorization, ItsResponseIsAcceptedByTheLibraryWithTheGrant) {
  const struct {
    const char* flags;
    uint32_t value;
    const char* command;
  } grants[] = {{"0x80000000", 0x80000000u, "kick 3"}, {"7", 7, ""}, {"1", 1, "exactly11ch"}};
  for (const auto& g : grants) {
    SCOPED_TRACE(g.command);
    tool_result r = run_tool(dir_, "response build challenge.txt --exe server.exe" + knowledge() +
                                       " --flags " + g.flags + " --command '" + g.command + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.out.size(), 97u) << r.out;  // 48 bytes in hex and a line end
    const bytes_t response = from_hex(r.out.substr(0, 96));
    script::grant out{};
    ASSERT_EQ(script::check_response(state_, response.data(), response.size(), &out), 0);
    EXPECT_EQ(out.flags, g.value);
    EXPECT_STREQ(out.command, g.command);
  }

  // The challenge given in full, a fixed salt, the bytes to a file.
  const std::string salt = "00112233445566778899aabbccddeeff";
  tool_result r = run_tool(dir_, "response build " + challenge_ + " --exe server.exe" + knowledge() +
                                     " --flags 5 --command 'map 2' --salt " + salt + " -o response.bin");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "response.bin: authorization response of 48 bytes, flags 0x00000005, command \"map 2\"\n");
  std::ifstream in(dir_.path() + "/response.bin", std::ios::binary);
  const bytes_t response(std::istreambuf_iterator<char>(in), {});
  ASSERT_EQ(response.size(), 48u);
  EXPECT_EQ(hex_of(response.data(), 16), salt);
  script::grant out{};
  ASSERT_EQ(script::check_response(state_, response.data(), response.size(), &out), 0);
  EXPECT_EQ(out.flags, 5u);
  EXPECT_STREQ(out.command, "map 2");
}

TEST_F(ToolAuthorization, BadInputIsOneRefusalLine) {
  std::string upper = challenge_;
  upper[40] = 'A';
  dir_.write("short.txt", as_bytes(challenge_.substr(0, 178)));
  dir_.write("upper.txt", as_bytes(upper));
  dir_.write("empty.txt", {});
  const std::string md5 = " --exe-md5 " + hex_of(executable_, 16);
  const struct {
    std::string arguments;
    const char* text;
  } cases[] = {
      {"challenge check short.txt" + md5 + knowledge(), "short.txt: not a challenge string (179 characters"},
      {"challenge check empty.txt" + md5 + knowledge(), "this one has 0)"},
      {"challenge check upper.txt" + md5 + knowledge(), "not hexadecimal (character 40"},
      {"challenge check missing.txt" + md5 + knowledge(), "missing.txt: cannot open"},
      {"challenge check challenge.txt" + knowledge(), "give the server's executable with --exe"},
      {"challenge check challenge.txt --exe-md5 12ab" + knowledge(), "--exe-md5 takes 32 hex digits"},
      {"challenge check challenge.txt --exe nowhere.exe" + knowledge(), "nowhere.exe: cannot open"},
      {"challenge check challenge.txt --exe ." + knowledge(), ".: cannot open (no readable file)"},
      {"challenge check challenge.txt --mod mods/bf2" + md5, "give the provider IDs"},
      {"response build challenge.txt" + md5 + knowledge() + " --command twelve_chars",
       "at most 11 characters"},
      {"response build challenge.txt" + md5 + knowledge() + " --salt 00", "--salt takes 32 hex digits"},
      {"response build challenge.txt" + md5 + " --provider someone-else --mod mods/bf2",
       "does not verify (provider digest matches no known provider ID)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    expect_refusal(run_tool(dir_, c.arguments), c.text);
  }
}

TEST_F(ToolAuthorization, ADigestThatDiffersIsShownAndRefused) {
  // The report goes out whole; the exit code and one line say what failed.
  uint8_t other[16];
  std::memcpy(other, executable_, 16);
  other[0] ^= 1;
  std::string altered = challenge_;
  altered[40] = altered[40] == '0' ? '1' : '0';  // the enciphered identity
  dir_.write("altered.txt", as_bytes(altered));
  const struct {
    std::string arguments;
    const char* shown;
    const char* refusal;
  } cases[] = {
      {"challenge check challenge.txt --exe-md5 " + hex_of(other, 16) + knowledge(),
       " DIFFERS for executable MD5 ", "does not verify (executable check digest differs)"},
      {"challenge check challenge.txt --exe server.exe --provider other --mod mods/bf2",
       " DIFFERS (no --provider given matches)", "provider digest matches no known provider ID"},
      {"challenge check challenge.txt --exe server.exe --provider provider-secret-1 --mod mods/xpack",
       " DIFFERS (no --mod given matches)", "mod digest matches no known mod directory"},
      {"challenge check --json altered.txt --exe server.exe" + knowledge(), "\"identity_ok\": false",
       "identity digest differs"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    const tool_result r = run_tool(dir_, c.arguments);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(c.shown), std::string::npos) << r.out;
    EXPECT_EQ(r.err.rfind("ostrel-tool: ", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_NE(r.err.find(c.refusal), std::string::npos) << r.err;
  }
}

}  // namespace
