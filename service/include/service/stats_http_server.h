// Reference statistics web server: takes snapshot uploads (POST
// "/ASP/sendsnapshot.aspx") over HTTP on 127.0.0.1:80, checks and decodes each
// with the provider IDs it knows, and keeps every snapshot it accepted for
// tests and the operator.  Switches make it misbehave the ways a real server
// or network can.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "service/stats_messages.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}

namespace service {

inline constexpr uint16_t stats_http_port = 80;

class stats_http_server {
 public:
  enum class fault {
    none,        // 200 OK for an accepted snapshot, 400 for one it cannot check
    refuse,      // the port is bound but nothing listens: connections are refused
    answer_500,  // reads the request, answers 500 Internal Server Error
    no_newline,  // reads the request, answers "HTTP/1.1 200 OK" without any line end
    silent,      // reads the request, never answers, keeps the connection open
    slow,        // judges the request, answers a byte at a time (slow_byte_ms apart)
    keep_alive,  // reads and judges the request, answers with keep-alive, never closes
    never_read,  // accepts the connection and never reads from it
    status,      // reads the request, answers the status of set_status (408, 429...)
    reset,       // reads the request, then resets the connection (RST, no answer)
  };

  // Port 0: the system chooses one at the first start, and the server keeps
  // it across restarts and fault changes (port() tells which).
  stats_http_server(const stats_keys& keys, uint16_t port = stats_http_port,
                    std::string address = "127.0.0.1");
  ~stats_http_server();
  stats_http_server(const stats_http_server&) = delete;
  stats_http_server& operator=(const stats_http_server&) = delete;

  void add_provider(const std::string& provider_id);
  // Called for every snapshot accepted, on a server thread.  Set before start.
  void on_snapshot(std::function<void(const snapshot_seen&)> callback);

  // Binds and serves; false with a reason when the port cannot be bound.
  bool start(std::string* error = nullptr);
  void stop();
  uint16_t port() const { return port_; }
  // Takes effect for the next connection (the listener is rebound).
  bool set_fault(fault f);
  void set_slow_byte_ms(int ms) { slow_byte_ms_ = ms; }
  void set_status(int status) { status_ = status; }
  // A snapshot whose deciphered data is exactly data is answered with status
  // (and not accepted); status 0 removes the switch.
  void refuse_data(const std::string& data, int status);

  std::vector<snapshot_seen> snapshots() const;  // accepted, in order of arrival
  std::vector<std::string> rejections() const;   // why each refused upload was refused
  // Requests read whole in the raw modes (answer_500 is served by the HTTP
  // library, the others by hand), exactly as they arrived.
  std::vector<std::string> raw_requests() const;
  int connections() const { return connections_.load(); }
  // Uploads accepted whose 200 reply did not go out whole (the client had
  // given up on it): the client cannot know they arrived.
  int unconfirmed() const { return unconfirmed_.load(); }
  // Snapshots accepted so far (each one answered 200 OK).
  size_t accepted() const;
  bool wait_for_snapshots(size_t count, int timeout_ms) const;
  void clear();

 private:
  bool start_locked(std::string* error);
  void stop_locked();
  void serve_request(const httplib::Request& req, httplib::Response& res);
  // The verdict on one upload: the status to answer and its text.
  int judge(const std::string& body, const std::string& content_length, const std::string& tsdata,
            uint32_t from_address, std::string& text);
  // judge for a request read by hand (the raw modes).
  int judge_raw(int client, const std::string& raw, std::string& text);
  void serve_raw();
  void handle_raw(int client);

  stats_keys keys_;
  uint16_t port_;
  std::string address_;
  std::atomic<int> slow_byte_ms_{20};
  std::atomic<int> status_{429};
  std::atomic<int> connections_{0};
  std::atomic<int> unconfirmed_{0};
  std::function<void(const snapshot_seen&)> callback_;

  std::mutex control_;  // start, stop, fault changes
  std::atomic<fault> fault_{fault::none};
  bool started_ = false;
  std::unique_ptr<httplib::Server> http_;
  int raw_socket_ = -1;
  std::thread thread_;
  std::atomic<bool> stopping_{false};

  mutable std::mutex mutex_;  // what was received
  mutable std::condition_variable arrived_;
  std::vector<std::string> providers_;
  std::vector<snapshot_seen> snapshots_;
  std::vector<std::string> rejections_;
  std::vector<std::string> raw_requests_;
  std::string refused_data_;
  int refused_status_ = 0;
};

}  // namespace service
