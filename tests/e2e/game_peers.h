// Loopback peers that play the game's far side of query traffic: a game
// server that answers every server query with a fixed answer (plain or split
// "splitnum" form), on a thread of its own, and the answers themselves.
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "loopback_peer.h"

namespace e2e {

// A plain answer whose seventh value is ranked_value ("1" or "0").
std::vector<uint8_t> plain_query_answer(const char* ranked_value);
// A first split part ("splitnum" with part byte 0) holding bf2_ranked twice.
std::vector<uint8_t> split_query_answer(const char* ranked_value);

class game_server_peer {
 public:
  ~game_server_peer() { stop(); }
  bool start(const std::vector<uint8_t>& answer);
  void stop();
  uint16_t port() const { return peer_.port; }
  int queries() const { return queries_.load(); }

 private:
  udp_peer peer_;
  std::vector<uint8_t> answer_;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  std::atomic<int> queries_{0};
};

}  // namespace e2e
