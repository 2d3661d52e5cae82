// Reference lookup service: answers "HHHL3" requests on UDP (29960 in a real
// deployment) with the address table it is given, signed and masked with the
// deployment's chaining state.  Tests and the demo set its table, craft
// payloads with records of every type, count what it received, and switch on
// misbehaviour to see the library cope.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "service/lookup_messages.h"

namespace service {

class lookup_service {
 public:
  enum class fault {
    none,
    silence,       // reads and counts requests, never answers
    wrong_code,    // the answer's code has one byte changed
    other_sender,  // a valid answer, sent from a second socket on 127.0.0.2
    too_short,     // the first 29 bytes of a valid answer
    oversized,     // a validly signed answer of more than 2000 bytes
    overfull,      // a valid answer with more entries than a 12000-byte table holds
  };

  // port 0 takes any free port (see port()).
  lookup_service(const uint32_t chain[4], uint16_t port = 29960,
                 const std::string& address = "127.0.0.1");
  ~lookup_service();
  lookup_service(const lookup_service&) = delete;
  lookup_service& operator=(const lookup_service&) = delete;

  bool start();
  void stop();
  uint16_t port() const { return port_; }

  // The table: names are keyed as the library keys them.
  void map_name(const std::string& name, const std::vector<uint32_t>& addresses);
  void map_key(uint32_t key, const std::vector<uint32_t>& addresses);
  void clear_table();
  // Answers with exactly this payload instead of the table's until cleared.
  void set_payload(const std::vector<uint8_t>& payload);
  void clear_payload();

  void set_fault(fault f);
  void set_delay_ms(int ms);
  // Called on the service's thread for every request read.
  void on_request(std::function<void(const lookup_request_seen&)> fn);

  int requests() const { return requests_.load(); }
  int answers() const { return answers_.load(); }
  std::vector<lookup_request_seen> received() const;
  std::vector<uint8_t> last_answer() const;  // as sent
  void reset_counts();

 private:
  void run();
  void answer(const lookup_request_seen& request);
  std::vector<uint8_t> current_payload();

  uint32_t chain_[4];
  std::string address_;
  uint16_t port_;
  int socket_ = -1;
  int other_socket_ = -1;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  std::atomic<int> requests_{0};
  std::atomic<int> answers_{0};

  mutable std::mutex mutex_;
  std::vector<std::pair<uint32_t, std::vector<uint32_t>>> table_;
  bool use_payload_ = false;
  std::vector<uint8_t> payload_;
  fault fault_ = fault::none;
  int delay_ms_ = 0;
  std::function<void(const lookup_request_seen&)> on_request_;
  std::vector<lookup_request_seen> received_;
  std::vector<uint8_t> last_answer_;
};

}  // namespace service
