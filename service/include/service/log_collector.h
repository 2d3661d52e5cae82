// Reference log collector: receives the library's "HLD1" log echo datagrams on
// a loopback UDP port (29951 by default), keeps every decoded line for tests
// and hands each one to an optional callback (the CLI prints them).
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace service {

inline constexpr uint16_t log_collector_port = 29951;

struct log_record {
  uint16_t sequence = 0;
  uint16_t setup_value = 0;  // the server's query port
  uint32_t setup_time = 0;   // seconds since 1970
  uint32_t send_time = 0;
  uint32_t pid = 0;          // low 16 bits of the sender's process id
  std::string text;          // as sent: no terminating zero, may hold any byte
  uint32_t from_address = 0;  // network order
  uint16_t from_port = 0;
};

// Decodes one datagram; false when it is shorter than the 20-byte header or
// does not start with "HLD1".
bool decode_log_datagram(const uint8_t* data, size_t length, log_record& out);

// One readable line: header fields, then the text with control characters and
// bytes above 0x7E escaped, so that no received byte reaches a terminal raw.
std::string format_log_record(const log_record& record);

class log_collector {
 public:
  // port 0 takes any free port (see port()).
  explicit log_collector(uint16_t port = log_collector_port, std::string address = "127.0.0.1");
  ~log_collector();
  log_collector(const log_collector&) = delete;
  log_collector& operator=(const log_collector&) = delete;

  // Called on the receiving thread for every accepted datagram.  Set before start.
  void on_record(std::function<void(const log_record&)> callback);

  // Binds and starts the receiving thread.  false with a reason in *error
  // ("address in use" and the like) when the port cannot be bound.
  bool start(std::string* error = nullptr);
  void stop();
  uint16_t port() const { return port_; }

  std::vector<log_record> records() const;
  size_t rejected() const { return rejected_.load(); }  // datagrams that failed the header check
  void clear();
  // Waits until at least count records are kept; false on time-out.
  bool wait_for(size_t count, int timeout_ms) const;

 private:
  void run();

  uint16_t port_;
  std::string address_;
  int fd_ = -1;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  std::atomic<size_t> rejected_{0};
  std::function<void(const log_record&)> callback_;
  mutable std::mutex mutex_;
  mutable std::condition_variable arrived_;
  std::vector<log_record> records_;
};

}  // namespace service
