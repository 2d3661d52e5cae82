// The reference master server endpoint: one UDP socket, one thread.
#include "service/master_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>

#include "digest/md5.h"
#include "loopback_udp.h"

namespace service {
namespace {

uint32_t get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t draw() {
  static thread_local std::mt19937 random{std::random_device{}()};
  return static_cast<uint32_t>(random());
}

std::vector<uint8_t> header(const char* magic, uint32_t session) {
  std::vector<uint8_t> out(magic, magic + 4);
  out.resize(8);
  put32(out.data() + 4, session);
  return out;
}

}  // namespace

master_server::master_server(const ranked_keys& keys, uint16_t port, const std::string& address)
    : keys_(keys), address_(address), port_(port) {}

master_server::~master_server() { stop(); }

bool master_server::start() {
  if (socket_ >= 0) return true;
  const int s = bind_udp(address_, port_, &port_);
  if (s < 0) return false;
  socket_ = s;
  stopping_ = false;
  thread_ = std::thread([this] { run(); });
  return true;
}

void master_server::stop() {
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
  if (socket_ >= 0) ::close(socket_);
  socket_ = -1;
}

void master_server::set_servers(const std::vector<ranked_server>& servers, uint16_t default_port) {
  std::lock_guard<std::mutex> hold(mutex_);
  servers_ = servers;
  default_port_ = default_port;
}

void master_server::set_blob(const std::vector<uint8_t>& blob) {
  std::lock_guard<std::mutex> hold(mutex_);
  use_blob_ = true;
  blob_ = blob;
}

void master_server::clear_blob() {
  std::lock_guard<std::mutex> hold(mutex_);
  use_blob_ = false;
}

void master_server::set_fragment_size(size_t payload) {
  std::lock_guard<std::mutex> hold(mutex_);
  fragment_size_ = payload == 0 ? 1 : payload;
}

void master_server::set_fragment_order(const std::vector<int>& order) {
  std::lock_guard<std::mutex> hold(mutex_);
  order_ = order;
}

void master_server::set_stray_fragment_end(size_t end) {
  std::lock_guard<std::mutex> hold(mutex_);
  stray_end_ = end;
}

void master_server::set_fault(fault f) {
  std::lock_guard<std::mutex> hold(mutex_);
  fault_ = f;
}

std::vector<master_datagram> master_server::received() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return received_;
}

int master_server::count(master_datagram::kind what) const {
  std::lock_guard<std::mutex> hold(mutex_);
  int n = 0;
  for (const auto& d : received_) n += d.what == what ? 1 : 0;
  return n;
}

std::vector<uint8_t> master_server::last_blob() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return last_blob_;
}

void master_server::reset() {
  std::lock_guard<std::mutex> hold(mutex_);
  received_.clear();
  fragments_.clear();
  held_.clear();
  last_blob_.clear();
  order_.clear();
  stray_end_ = 0;
  fault_ = fault::none;
  use_blob_ = false;
  fragment_size_ = 1400;
}

bool master_server::wait_for(master_datagram::kind what, int n, int timeout_ms) const {
  std::unique_lock<std::mutex> hold(mutex_);
  return changed_.wait_for(hold, std::chrono::milliseconds(timeout_ms), [&] {
    int seen = 0;
    for (const auto& d : received_) seen += d.what == what ? 1 : 0;
    return seen >= n;
  });
}

void master_server::send(const std::vector<uint8_t>& data, uint32_t to, uint16_t port) {
  send_datagram(socket_, data, to, port);
}

void master_server::run() {
  std::vector<uint8_t> buffer(65536);
  while (!stopping_) {
    pollfd p{socket_, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    sockaddr_in from{};
    socklen_t from_length = sizeof from;
    ssize_t n = ::recvfrom(socket_, buffer.data(), buffer.size(), 0,
                           reinterpret_cast<sockaddr*>(&from), &from_length);
    if (n < 0) continue;
    master_datagram d;
    d.data.assign(buffer.begin(), buffer.begin() + n);
    d.from_address = from.sin_addr.s_addr;
    d.from_port = ntohs(from.sin_port);
    handle(d);
  }
}

void master_server::handle(const master_datagram& in) {
  master_datagram d = in;
  const uint8_t* p = d.data.data();
  const size_t n = d.data.size();
  const bool hmq = n >= 9 && std::memcmp(p, "HMQ1", 4) == 0;
  std::unique_lock<std::mutex> hold(mutex_);
  if (n >= 5 && p[0] == 0x09) {
    d.what = master_datagram::kind::availability;
  } else if (hmq && p[8] == 3 && n >= 35) {
    d.what = master_datagram::kind::list_request;
    d.session = get32(p + 4);
    uint8_t challenge[4];
    put32(challenge, challenge_);
    digest::md5_context ctx;
    digest::md5_start(ctx);
    digest::md5_update(ctx, challenge, 4);
    digest::md5_update(ctx, p, 19);
    digest::md5_final(ctx);
    d.digest_ok = std::memcmp(ctx.digest, p + 19, 16) == 0;
  } else if (hmq && p[8] == 2 && n >= 13) {
    d.what = master_datagram::kind::acknowledgement;
    d.session = get32(p + 4);
    d.mask = get32(p + 9);
  }
  received_.push_back(d);
  changed_.notify_all();
  const fault f = fault_;
  if (f == fault::silence) return;

  switch (d.what) {
    case master_datagram::kind::availability: {
      challenge_ = f == fault::zero_challenge ? 0 : (draw() | 1u);
      std::vector<uint8_t> reply = header("HMC1", 0);
      reply.resize(12);
      put32(reply.data() + 8, challenge_);
      hold.unlock();
      send(reply, d.from_address, d.from_port);
      return;
    }
    case master_datagram::kind::list_request:
      if (!d.digest_ok || f == fault::error_reply) {
        hold.unlock();
        send(header("HME1", d.session), d.from_address, d.from_port);
        return;
      }
      hold.unlock();
      send_list(d.session, d.from_address, d.from_port);
      return;
    case master_datagram::kind::acknowledgement: {
      if (d.session != session_) return;
      std::vector<size_t> missing;
      for (size_t i = 0; i < fragments_.size(); ++i)
        if (!(d.mask & (1u << (i % 32)))) {
          missing.push_back(i);
          held_[i] = false;
        }
      hold.unlock();
      for (size_t i : missing) send_fragment(i, d.from_address, d.from_port);
      return;
    }
    case master_datagram::kind::other:
      return;
  }
}

void master_server::send_list(uint32_t session, uint32_t to, uint16_t port) {
  std::vector<int> order;
  fault f;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    f = fault_;
    std::vector<uint8_t> blob;
    if (use_blob_) {
      blob = blob_;
    } else {
      uint8_t nonce[16];
      for (uint8_t& b : nonce) b = static_cast<uint8_t>(draw());
      blob = seal_ranked_blob(keys_, nonce, ranked_body(draw(), default_port_, servers_));
    }
    if (f == fault::tampered_blob && blob.size() > 33) blob[33 + (blob.size() - 33) / 2] ^= 0x01;
    last_blob_ = blob;
    session_ = session;
    const uint32_t sent_session = f == fault::other_session ? session ^ 2u : session;

    std::vector<std::pair<size_t, std::vector<uint8_t>>> pieces;  // offset, payload
    if (stray_end_ >= 10) pieces.push_back({stray_end_ - 10, std::vector<uint8_t>(10, 0xAA)});
    for (size_t at = 0; at < blob.size() || at == 0; at += fragment_size_) {
      const size_t len = std::min(fragment_size_, blob.size() - at);
      pieces.push_back({at, std::vector<uint8_t>(blob.begin() + at, blob.begin() + at + len)});
      if (len == 0) break;
    }
    fragments_.clear();
    for (size_t i = 0; i < pieces.size(); ++i) {
      std::vector<uint8_t> fr = header("HMR1", sent_session);
      fr.push_back(static_cast<uint8_t>(i));
      fr.push_back(static_cast<uint8_t>(pieces.size()));
      fr.push_back(static_cast<uint8_t>(pieces[i].first));
      fr.push_back(static_cast<uint8_t>(pieces[i].first >> 8));
      fr.insert(fr.end(), pieces[i].second.begin(), pieces[i].second.end());
      fragments_.push_back(fr);
    }
    held_.assign(fragments_.size(), false);
    if (f == fault::lose_one) held_[fragments_.size() > 1 ? 1 : 0] = true;
    if (order_.empty()) {
      for (size_t i = 0; i < fragments_.size(); ++i) order.push_back(static_cast<int>(i));
    } else {
      order = order_;
    }
  }
  for (int i : order) {
    bool held;
    {
      std::lock_guard<std::mutex> hold(mutex_);
      if (i < 0 || static_cast<size_t>(i) >= fragments_.size()) continue;
      held = held_[static_cast<size_t>(i)];
    }
    if (held) continue;
    send_fragment(static_cast<size_t>(i), to, port);
    if (f == fault::duplicated) send_fragment(static_cast<size_t>(i), to, port);
  }
}

void master_server::send_fragment(size_t index, uint32_t to, uint16_t port) {
  std::vector<uint8_t> fragment;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    if (index >= fragments_.size()) return;
    fragment = fragments_[index];
  }
  send(fragment, to, port);
}

}  // namespace service
