// Game-server peers for the end-to-end tests and the demo.
#include "game_peers.h"

#include <cstring>

namespace e2e {
namespace {
void add_texts(std::vector<uint8_t>& out, std::initializer_list<const char*> texts) {
  for (const char* t : texts) out.insert(out.end(), t, t + std::strlen(t) + 1);
}
}  // namespace

std::vector<uint8_t> plain_query_answer(const char* ranked_value) {
  std::vector<uint8_t> out = {0x00, 0x10, 0x20, 0x30, 0x40};
  add_texts(out, {"hostname", "loopback server", "gamename", "battlefield2", "gamever", "1.5",
                  "mapname", "Dalian Plant", "gametype", "gpm_cq", "gamevariant", "bf2",
                  "bf2_ranked", ranked_value, "numplayers", "1", "maxplayers", "64"});
  return out;
}

std::vector<uint8_t> split_query_answer(const char* ranked_value) {
  std::vector<uint8_t> out = {0x00, 0x10, 0x20, 0x30, 0x40};
  add_texts(out, {"splitnum"});
  out.push_back(0x00);  // part number: a first part
  out.push_back(0x00);  // byte 15
  add_texts(out, {"hostname", "loopback server", "bf2_ranked", ranked_value, "bf2_ranked",
                  ranked_value, "numplayers", "1"});
  return out;
}

bool game_server_peer::start(const std::vector<uint8_t>& answer) {
  if (!peer_.open()) return false;
  answer_ = answer;
  stopping_ = false;
  thread_ = std::thread([this] {
    while (!stopping_) {
      std::vector<uint8_t> query;
      uint16_t from_port = 0;
      uint32_t from_address = 0;
      if (!peer_.receive(query, from_port, from_address, 100)) continue;
      if (query.size() < 3 || query[0] != 0xFE || query[1] != 0xFD) continue;
      ++queries_;
      peer_.send_to(answer_, from_port);
    }
  });
  return true;
}

void game_server_peer::stop() {
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
  peer_.close();
}

}  // namespace e2e
