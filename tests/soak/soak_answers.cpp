// Friendly and hostile query answers, and the correction the game must see.
#include "soak_answers.h"

#include <cstring>

namespace soak {
namespace {

void add(std::vector<uint8_t>& out, const std::string& text) {
  out.insert(out.end(), text.begin(), text.end());
  out.push_back(0);
}

std::vector<uint8_t> head() { return {0x00, 0x10, 0x20, 0x30, 0x40}; }

std::vector<uint8_t> plain(const std::string& hostname, const std::string& ranked) {
  std::vector<uint8_t> out = head();
  // The ranked flag is the seventh value, where the game's servers put it.
  for (const std::string& t :
       {std::string("hostname"), hostname, std::string("gamename"), std::string("battlefield2"),
        std::string("gamever"), std::string("1.5"), std::string("mapname"), std::string("Dalian Plant"),
        std::string("gametype"), std::string("gpm_cq"), std::string("gamevariant"), std::string("bf2"),
        std::string("bf2_ranked"), ranked, std::string("numplayers"), std::string("1"),
        std::string("maxplayers"), std::string("64")})
    add(out, t);
  return out;
}

std::vector<uint8_t> split(uint8_t part, const std::vector<std::string>& texts) {
  std::vector<uint8_t> out = head();
  add(out, "splitnum");
  out.push_back(part);
  out.push_back(0x00);
  for (const std::string& t : texts) add(out, t);
  return out;
}

}  // namespace

std::vector<answer_kind> answer_kinds() {
  std::vector<answer_kind> kinds;
  kinds.push_back({"plain", plain("loopback server", "1")});
  kinds.push_back({"plain ranked 0", plain("loopback server", "0")});
  kinds.push_back({"split", split(0, {"hostname", "loopback", "bf2_ranked", "1", "bf2_ranked", "1"})});
  kinds.push_back({"long texts", plain(std::string(1200, 'L'), "1")});
  {
    std::vector<uint8_t> a = plain("repeated", "1");
    for (int i = 0; i < 40; ++i) {
      add(a, "bf2_ranked");
      add(a, "1");
    }
    kinds.push_back({"repeated pairs", a});
  }
  {
    std::vector<uint8_t> a = head();
    for (const char* t : {"", "", "hostname", "", "1", "x", "1", "", "bf2_ranked", "1", "1", "1"})
      add(a, t);
    kinds.push_back({"empty texts", a});
  }
  kinds.push_back({"pair as a value",
                   split(0, {"hostname", "bf2_ranked", "bf2_ranked", "1", "bf2_ranked", "1"})});
  kinds.push_back({"split later part", split(1, {"bf2_ranked", "1", "numplayers", "1"})});
  {
    std::vector<uint8_t> a = head();
    add(a, "bf2_ranked");
    add(a, "1");
    kinds.push_back({"short", a});  // under 30 bytes: never looked at
  }
  {
    std::vector<uint8_t> a = head();
    for (int i = 0; i < 300; ++i) add(a, "1");
    kinds.push_back({"all ones", a});
  }
  {
    std::vector<uint8_t> a = split(0, {"bf2_ranked", "11", "bf2_ranked", "", "bf2_ranked", "1", "numplayers"});
    a.pop_back();  // the last text without its NUL
    kinds.push_back({"split unterminated", a});
  }
  return kinds;
}

std::vector<uint8_t> corrected(const std::vector<uint8_t>& answer, bool ranked) {
  std::vector<uint8_t> out = answer;
  if (ranked || out.size() < 30 || out[0] != 0x00) return out;
  static const char splitnum[] = "splitnum";  // with its NUL: 9 bytes at 5
  if (std::memcmp(out.data() + 5, splitnum, sizeof splitnum) == 0) {
    if (out[15] != 0) return out;
    // Texts from 16 on, alternately key and value; a text cut by the end of
    // the datagram is still a text.
    std::string key;
    bool is_key = true;
    for (size_t start = 16; start < out.size();) {
      size_t end = start;
      while (end < out.size() && out[end] != 0) ++end;
      const std::string text(out.begin() + static_cast<long>(start), out.begin() + static_cast<long>(end));
      if (is_key) {
        key = text;
      } else if (text == "1" && key == "bf2_ranked") {
        out[start] = '0';
        return out;
      }
      is_key = !is_key;
      start = end + 1;
    }
    return out;
  }
  // The seventh value: the bytes after exactly 13 NULs from offset 5.
  int nuls = 0;
  for (size_t i = 5; i < out.size(); ++i) {
    if (nuls == 13 && out[i] == '1' && i + 1 < out.size() && out[i + 1] == 0) out[i] = '0';
    if (out[i] == 0) ++nuls;
  }
  return out;
}

}  // namespace soak
