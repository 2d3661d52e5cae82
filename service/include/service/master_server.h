// Reference master server for the ranked list (UDP 27900 in a real
// deployment): answers the availability query with a challenge, checks the
// list request's digest, sends a ranked list it signs and enciphers itself in
// fragments of the size it is given, resends what an acknowledgement says is
// missing, and records every datagram it received.  Switches make it
// misbehave the ways a client must survive.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "service/ranked_messages.h"

namespace service {

inline constexpr uint16_t master_server_port = 27900;

// One datagram as received, with what the server made of it.
struct master_datagram {
  enum class kind { availability, list_request, acknowledgement, other };
  kind what = kind::other;
  std::vector<uint8_t> data;
  uint32_t from_address = 0;  // network byte order
  uint16_t from_port = 0;
  bool digest_ok = false;     // list requests: the digest matched the challenge
  uint32_t session = 0;       // list requests and acknowledgements
  uint32_t mask = 0;          // acknowledgements
};

class master_server {
 public:
  enum class fault {
    none,
    silence,         // records everything, answers nothing
    zero_challenge,  // the challenge sent is 0
    error_reply,     // answers the list request with "HME1"
    duplicated,      // every fragment is sent twice
    lose_one,        // fragment 1 (or 0 of one) is held back until an acknowledgement lacks it
    tampered_blob,   // one body byte of the sealed blob is changed
    other_session,   // fragments carry another session id
  };

  master_server(const ranked_keys& keys, uint16_t port = master_server_port,
                const std::string& address = "127.0.0.1");
  ~master_server();
  master_server(const master_server&) = delete;
  master_server& operator=(const master_server&) = delete;

  bool start();
  void stop();
  uint16_t port() const { return port_; }

  // The list it serves; each list request seals it afresh with a new nonce.
  void set_servers(const std::vector<ranked_server>& servers, uint16_t default_port);
  // Serves exactly this blob instead, until cleared.
  void set_blob(const std::vector<uint8_t>& blob);
  void clear_blob();
  // Payload bytes per fragment (default 1400).
  void set_fragment_size(size_t payload);
  // The order in which fragment indices are sent (default ascending); indices
  // that do not exist are skipped, missing ones are not sent.
  void set_fragment_order(const std::vector<int>& order);
  // A stray fragment of 10 payload bytes ending at `end`, sent first as
  // fragment 0 with the list's fragments shifted up by one; 0 sends none.
  void set_stray_fragment_end(size_t end);
  void set_fault(fault f);

  std::vector<master_datagram> received() const;
  int count(master_datagram::kind what) const;
  std::vector<uint8_t> last_blob() const;  // the blob of the last list sent
  void reset();
  // Waits until count(what) reaches n; false on time-out.
  bool wait_for(master_datagram::kind what, int n, int timeout_ms) const;

 private:
  void run();
  void handle(const master_datagram& d);
  void send_list(uint32_t session, uint32_t to, uint16_t port);
  void send_fragment(size_t index, uint32_t to, uint16_t port);
  void send(const std::vector<uint8_t>& data, uint32_t to, uint16_t port);

  ranked_keys keys_;
  std::string address_;
  uint16_t port_;
  int socket_ = -1;
  std::thread thread_;
  std::atomic<bool> stopping_{false};

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<ranked_server> servers_;
  uint16_t default_port_ = 0;
  bool use_blob_ = false;
  std::vector<uint8_t> blob_;
  size_t fragment_size_ = 1400;
  std::vector<int> order_;
  size_t stray_end_ = 0;
  fault fault_ = fault::none;
  uint32_t challenge_ = 0;
  std::vector<master_datagram> received_;
  // The list being sent: its fragments, and which of them were held back.
  std::vector<std::vector<uint8_t>> fragments_;
  std::vector<bool> held_;
  uint32_t session_ = 0;
  std::vector<uint8_t> last_blob_;
};

}  // namespace service
