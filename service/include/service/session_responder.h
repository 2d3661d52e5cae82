// Reference session responder: reads "HRSQ" session requests on UDP (29950 in
// a real deployment), checks their digest with the provider IDs it knows and
// answers "HRSR" with the session flags it is given.  Switches make it
// misbehave so that tests see the library ignore what it must not trust.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "service/stats_messages.h"

namespace service {

inline constexpr uint16_t session_responder_port = 29950;

class session_responder {
 public:
  enum class fault {
    none,
    silence,           // reads and counts requests, never answers
    wrong_length,      // answers twice: 55 bytes, then 57 (a valid reply cut or padded)
    other_sender,      // a valid reply, sent from a second socket on 127.0.0.2
    digest_without_r,  // the reply's digest leaves out the request's R
    wrong_port,        // the echoed query port is one higher (validly signed)
  };

  session_responder(const stats_keys& keys, uint16_t port = session_responder_port,
                    std::string address = "127.0.0.1");
  ~session_responder();
  session_responder(const session_responder&) = delete;
  session_responder& operator=(const session_responder&) = delete;

  bool start(std::string* error = nullptr);
  void stop();
  uint16_t port() const { return port_; }

  void add_provider(const std::string& provider_id);
  void set_flags(uint32_t flags) { flags_ = flags; }
  // 0 (the default) answers with the service's own clock.
  void set_service_time(uint32_t t) { service_time_ = t; }
  void set_fault(fault f) { fault_ = f; }
  // Called on the responder's thread after each request has been handled
  // (answered or not), with whether its digest checked out.
  void on_request(std::function<void(const session_request_seen&, bool signed_ok)> callback);

  int requests() const { return requests_.load(); }
  std::vector<session_request_seen> exchanges() const;  // requests that checked out
  void clear();

 private:
  void run();

  stats_keys keys_;
  std::string address_;
  uint16_t port_;
  int socket_ = -1;
  int other_socket_ = -1;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  std::atomic<uint32_t> flags_{0};
  std::atomic<uint32_t> service_time_{0};
  std::atomic<fault> fault_{fault::none};
  std::atomic<int> requests_{0};
  mutable std::mutex mutex_;
  std::vector<std::string> providers_;
  std::vector<session_request_seen> exchanges_;
  std::function<void(const session_request_seen&, bool)> callback_;
};

}  // namespace service
