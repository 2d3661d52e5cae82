// Reference log collector: one UDP socket on loopback, one receiving thread,
// a locked list of decoded lines.
#include "service/log_collector.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace service {
namespace {

// The "HLD1" header, all numbers little-endian.
constexpr size_t header_size = 20;
constexpr size_t at_sequence = 4;
constexpr size_t at_setup_value = 6;
constexpr size_t at_setup_time = 8;
constexpr size_t at_send_time = 12;
constexpr size_t at_pid = 16;

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

bool decode_log_datagram(const uint8_t* data, size_t length, log_record& out) {
  if (length < header_size || std::memcmp(data, "HLD1", 4) != 0) return false;
  out.sequence = le16(data + at_sequence);
  out.setup_value = le16(data + at_setup_value);
  out.setup_time = le32(data + at_setup_time);
  out.send_time = le32(data + at_send_time);
  out.pid = le32(data + at_pid);
  out.text.assign(reinterpret_cast<const char*>(data) + header_size, length - header_size);
  return true;
}

std::string format_log_record(const log_record& r) {
  char head[160];
  in_addr from{};
  from.s_addr = r.from_address;
  char from_text[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &from, from_text, sizeof from_text);
  std::snprintf(head, sizeof head, "%s:%u seq=%u value=%u setup=%u sent=%u pid=%u | ", from_text,
                r.from_port, r.sequence, r.setup_value, r.setup_time, r.send_time, r.pid);
  std::string line = head;
  std::string body = r.text;
  // The library's lines end in "\r\n" themselves; print that as the line end.
  if (body.size() >= 2 && body.compare(body.size() - 2, 2, "\r\n") == 0) body.resize(body.size() - 2);
  for (unsigned char c : body) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      line += static_cast<char>(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      line += escaped;
    }
  }
  return line;
}

log_collector::log_collector(uint16_t port, std::string address)
    : port_(port), address_(std::move(address)) {}

log_collector::~log_collector() { stop(); }

void log_collector::on_record(std::function<void(const log_record&)> callback) {
  callback_ = std::move(callback);
}

bool log_collector::start(std::string* error) {
  auto fail = [&](const std::string& what) {
    if (error) *error = what + " (" + address_ + ":" + std::to_string(port_) + "): " +
                        std::strerror(errno);
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    return false;
  };
  if (fd_ >= 0) return true;
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_port = htons(port_);
  if (inet_pton(AF_INET, address_.c_str(), &at.sin_addr) != 1) {
    errno = EINVAL;
    return fail("bad address");
  }
  // Not inherited: a Wine server started while the collector runs would keep
  // its port bound for the rest of the run.
  fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return fail("socket");
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0)
    return fail(errno == EADDRINUSE ? "address in use" : "bind");
  socklen_t length = sizeof at;
  if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&at), &length) != 0)
    return fail("getsockname");
  port_ = ntohs(at.sin_port);
  stopping_ = false;
  thread_ = std::thread([this] { run(); });
  return true;
}

void log_collector::stop() {
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void log_collector::run() {
  uint8_t buffer[65536];
  while (!stopping_) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    sockaddr_in from{};
    socklen_t from_length = sizeof from;
    ssize_t n = ::recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from),
                           &from_length);
    if (n < 0) continue;
    log_record record;
    if (!decode_log_datagram(buffer, static_cast<size_t>(n), record)) {
      ++rejected_;
      continue;
    }
    record.from_address = from.sin_addr.s_addr;
    record.from_port = ntohs(from.sin_port);
    if (callback_) callback_(record);
    {
      std::lock_guard<std::mutex> hold(mutex_);
      records_.push_back(std::move(record));
    }
    arrived_.notify_all();
  }
}

std::vector<log_record> log_collector::records() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return records_;
}

void log_collector::clear() {
  std::lock_guard<std::mutex> hold(mutex_);
  records_.clear();
  rejected_ = 0;
}

bool log_collector::wait_for(size_t count, int timeout_ms) const {
  std::unique_lock<std::mutex> hold(mutex_);
  return arrived_.wait_for(hold, std::chrono::milliseconds(timeout_ms),
                           [&] { return records_.size() >= count; });
}

}  // namespace service
