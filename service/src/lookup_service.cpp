// The reference lookup service endpoint: one UDP socket, one thread.
#include "service/lookup_service.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <random>

#include "loopback_udp.h"
#include "redirect/name_key.h"

namespace service {
namespace {

// Entries of 74 bytes (15 addresses) from five-byte records: one full list,
// then records of type 0x40 with n = 0 that reuse it.
std::vector<uint8_t> overfull_payload() {
  lookup_payload p;
  std::vector<uint8_t> indices(15, p.address_number(htonl(0x0A000001)));
  p.add_record(0x00, 0x10000000, {}, indices);
  for (uint32_t i = 1; i < 200; ++i) p.add_record(0x40, 0x10000000 + i, {}, {}, 0);
  return p.bytes();
}

}  // namespace

lookup_service::lookup_service(const uint32_t chain[4], uint16_t port, const std::string& address)
    : address_(address), port_(port) {
  std::memcpy(chain_, chain, sizeof chain_);
}

lookup_service::~lookup_service() { stop(); }

bool lookup_service::start() {
  if (socket_ >= 0) return true;
  socket_ = bind_udp(address_, port_, &port_);
  if (socket_ < 0) return false;
  stopping_ = false;
  thread_ = std::thread([this] { run(); });
  return true;
}

void lookup_service::stop() {
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
  if (socket_ >= 0) ::close(socket_);
  if (other_socket_ >= 0) ::close(other_socket_);
  socket_ = other_socket_ = -1;
}

void lookup_service::map_name(const std::string& name, const std::vector<uint32_t>& addresses) {
  map_key(redirect::name_key(name.c_str()), addresses);
}

void lookup_service::map_key(uint32_t key, const std::vector<uint32_t>& addresses) {
  std::lock_guard<std::mutex> hold(mutex_);
  for (auto& entry : table_)
    if (entry.first == key) {
      entry.second = addresses;
      return;
    }
  table_.emplace_back(key, addresses);
}

void lookup_service::clear_table() {
  std::lock_guard<std::mutex> hold(mutex_);
  table_.clear();
}

void lookup_service::set_payload(const std::vector<uint8_t>& payload) {
  std::lock_guard<std::mutex> hold(mutex_);
  use_payload_ = true;
  payload_ = payload;
}

void lookup_service::clear_payload() {
  std::lock_guard<std::mutex> hold(mutex_);
  use_payload_ = false;
}

void lookup_service::set_fault(fault f) {
  std::lock_guard<std::mutex> hold(mutex_);
  fault_ = f;
}

void lookup_service::set_delay_ms(int ms) {
  std::lock_guard<std::mutex> hold(mutex_);
  delay_ms_ = ms;
}

void lookup_service::on_request(std::function<void(const lookup_request_seen&)> fn) {
  std::lock_guard<std::mutex> hold(mutex_);
  on_request_ = std::move(fn);
}

std::vector<lookup_request_seen> lookup_service::received() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return received_;
}

std::vector<uint8_t> lookup_service::last_answer() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return last_answer_;
}

void lookup_service::reset_counts() {
  std::lock_guard<std::mutex> hold(mutex_);
  requests_ = 0;
  answers_ = 0;
  received_.clear();
  last_answer_.clear();
}

std::vector<uint8_t> lookup_service::current_payload() {
  std::lock_guard<std::mutex> hold(mutex_);
  if (use_payload_) return payload_;
  return payload_from_table(table_).bytes();
}

void lookup_service::run() {
  std::vector<uint8_t> buffer(65536);
  while (!stopping_) {
    pollfd p{socket_, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    sockaddr_in from{};
    socklen_t from_length = sizeof from;
    ssize_t n = ::recvfrom(socket_, buffer.data(), buffer.size(), 0,
                           reinterpret_cast<sockaddr*>(&from), &from_length);
    if (n < 0) continue;
    lookup_request_seen request;
    if (!decode_lookup_request(chain_, buffer.data(), static_cast<size_t>(n), request)) continue;
    request.from_address = from.sin_addr.s_addr;
    request.from_port = ntohs(from.sin_port);
    std::function<void(const lookup_request_seen&)> notify;
    {
      std::lock_guard<std::mutex> hold(mutex_);
      received_.push_back(request);
      notify = on_request_;
    }
    ++requests_;
    if (notify) notify(request);
    if (request.code_ok) answer(request);
  }
}

void lookup_service::answer(const lookup_request_seen& request) {
  fault f;
  int delay;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    f = fault_;
    delay = delay_ms_;
  }
  if (f == fault::silence) return;
  if (delay > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay));

  std::vector<uint8_t> payload = f == fault::overfull ? overfull_payload() : current_payload();
  if (f == fault::oversized) payload.resize(2100, 0);  // trailing bytes after the records
  static thread_local std::mt19937 random{std::random_device{}()};
  uint8_t nonce[8];
  for (uint8_t& b : nonce) b = static_cast<uint8_t>(random());
  std::vector<uint8_t> datagram =
      build_lookup_answer(chain_, request.id, request.time, request.tag, nonce, payload);
  if (f == fault::wrong_code) datagram[14] ^= 0x01;
  if (f == fault::too_short) datagram.resize(29);

  int s = socket_;
  if (f == fault::other_sender) {
    if (other_socket_ < 0) other_socket_ = bind_udp("127.0.0.2", 0, nullptr);
    s = other_socket_;
  }
  if (s < 0) return;
  {
    // Recorded before it leaves: the client may act on it at once.
    std::lock_guard<std::mutex> hold(mutex_);
    last_answer_ = datagram;
  }
  ++answers_;
  send_datagram(s, datagram, request.from_address, request.from_port);
}

}  // namespace service
