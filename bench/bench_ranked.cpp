// The ranked list in a game client: the lookup in a full 8000-entry table (a
// hit and a miss), verify + install of a full 64000-byte blob, and the client
// receive filter against the bare receive of the same datagrams on loopback,
// side by side, for friendly and hostile answers; the scans alone too.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "deploy_values.h"
#include "side_by_side.h"
#include "platform/net.h"
#include "ranked/ranked_blob.h"
#include "ranked/ranked_refresh.h"
#include "ranked/ranked_store.h"
#include "service/ranked_messages.h"
#include "sockets/answer_scans.h"
#include "sockets/dispatch.h"
#include "sockets/receive_filters.h"
#include "sockets/traffic_state.h"

namespace {

uint32_t address_of(uint32_t i) { return htonl(0x0A000000u | i); }

// 8000 servers on their own ports, padded with trailing bytes to 64000.
std::vector<uint8_t> full_blob() {
  std::vector<service::ranked_server> servers;
  for (uint32_t i = 0; i < 8000; ++i) servers.push_back({address_of(i), 16567, 1});
  std::vector<uint8_t> body = service::ranked_body(1, 29900, servers);
  body.resize(64000 - 33, 0);
  const uint8_t nonce[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  return service::seal_ranked_blob(
      service::make_ranked_keys(deploy::ranked_key_chain, deploy::ranked_mac_chain,
                                deploy::ranked_feedback),
      nonce, body);
}

void install_full() {
  ranked::arena_allocate();
  static const std::vector<uint8_t> blob = full_blob();
  ranked::install_ranked_blob(blob.data(), blob.size());
}

void BM_VerifyAndInstallFullBlob(benchmark::State& state) {
  ranked::arena_allocate();
  const std::vector<uint8_t> blob = full_blob();
  for (auto _ : state) {
    benchmark::DoNotOptimize(ranked::verify_ranked_blob(blob.data(), blob.size()));
    benchmark::DoNotOptimize(ranked::install_ranked_blob(blob.data(), blob.size()));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 64000);
  state.counters["entries"] = static_cast<double>(ranked::ranked_count());
}
BENCHMARK(BM_VerifyAndInstallFullBlob);

void BM_LookupFullTable(benchmark::State& state) {
  install_full();
  const uint16_t port = htons(state.range(0) ? 16567 : 16568);
  uint32_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(ranked::ranked_lookup(address_of(i++ % 8000), port));
  state.SetLabel(state.range(0) ? "hit" : "miss");
}
BENCHMARK(BM_LookupFullTable)->Arg(1)->Arg(0);

// ---- receive on loopback ----------------------------------------------------

// Answers built as text first (GCC 12 at -O3 warns falsely on growing a small
// byte vector by insert).
std::vector<uint8_t> plain_answer() {
  std::string out("\0\1\2\3\4", 5);
  auto add = [&](const std::string& t) { out.append(t.c_str(), t.size() + 1); };
  for (const char* t : {"hostname", "a server", "gamename", "battlefield2", "gamever", "1.5",
                        "mapname", "Dalian Plant", "gametype", "gpm_cq", "gamevariant", "bf2",
                        "bf2_ranked", "1"})
    add(t);
  for (int i = 0; out.size() < 1390; ++i) {
    add("player_" + std::to_string(i));
    add("somebody");
  }
  out.resize(1400, '\0');
  return std::vector<uint8_t>(out.begin(), out.end());
}

std::vector<uint8_t> split_answer() {
  std::string out("\0\1\2\3\4", 5);
  auto add = [&](const std::string& t) { out.append(t.c_str(), t.size() + 1); };
  add("splitnum");
  out.append(2, '\0');
  for (int i = 0; out.size() < 1300; ++i) {
    add("key_" + std::to_string(i));
    add("1");
  }
  add("bf2_ranked");
  add("1");
  return std::vector<uint8_t>(out.begin(), out.end());
}

// Hostile answers, all 1472 bytes (the largest datagram one Ethernet frame
// carries): what any server that answers a query can send.
std::string split_head() {
  std::string out("\0\1\2\3\4", 5);
  out.append("splitnum", 9);
  out.append(2, '\0');
  return out;
}

std::vector<uint8_t> to_answer(std::string out) {
  out.resize(1472, '\0');
  return std::vector<uint8_t>(out.begin(), out.end());
}

// Every text full of "b": the old scan stopped at every one of them.
std::vector<uint8_t> split_all_b() {
  std::string out = split_head();
  while (out.size() < 1472) out.append(std::string(99, 'b') + '\0');
  return to_answer(out);
}

// The ranked key, again and again, with the value "0".
std::vector<uint8_t> split_pairs_of_0() {
  std::string out = split_head();
  while (out.size() < 1472) out.append("bf2_ranked\0" "0", 13);
  return to_answer(out);
}

// The ranked pair as a value, again and again: every copy is a true copy that
// must be checked and passed over.
std::vector<uint8_t> split_pair_as_value() {
  std::string out = split_head();
  out.append("key", 4);
  while (out.size() < 1472) out.append("bf2_ranked\0" "1", 13);
  return to_answer(out);
}

std::vector<uint8_t> all_nuls() { return to_answer(std::string()); }

// A plain answer whose second text runs almost to the end, so that the
// fourteenth NUL is among the last bytes: the plain scan's longest way.
std::vector<uint8_t> plain_long_text() {
  std::string out("\0\1\2\3\4", 5);
  out.append("hostname", 9);
  out.append(1472 - 5 - 9 - 1 - 24, 'a');
  out.append(1, '\0');
  for (int i = 0; i < 11; ++i) out.append("x", 2);
  out.append("1", 2);
  return to_answer(out);
}

struct loopback_pair {
  int receiver = -1, sender = -1;
  sockaddr_in to{};
  loopback_pair() {
    receiver = ::socket(AF_INET, SOCK_DGRAM, 0);
    sender = ::socket(AF_INET, SOCK_DGRAM, 0);
    const int room = 4 << 20;
    ::setsockopt(receiver, SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(receiver, reinterpret_cast<sockaddr*>(&to), sizeof to);
    socklen_t len = sizeof to;
    ::getsockname(receiver, reinterpret_cast<sockaddr*>(&to), &len);
  }
  ~loopback_pair() {
    ::close(receiver);
    ::close(sender);
  }
};

// The receive alone: a batch of datagrams is queued untimed, then received
// through the bare receive (the floor) or the client receive filter with a
// full list and a query socket (the subject); the answer's sender is not
// listed, so the filter rewrites it.  CPU ns per datagram.
void receive_bench(benchmark::State& state, const std::vector<uint8_t>& answer) {
  install_full();
  ranked::server_browser_mode = 1;
  sockets::query_socket = 1;
  loopback_pair pair;
  std::vector<char> buffer(2048);
  constexpr int batch = 64;
  auto side = [&](platform::recvfrom_fn receive) {
    return [&, receive] {
      for (int i = 0; i < batch; ++i)
        ::sendto(pair.sender, answer.data(), answer.size(), 0,
                 reinterpret_cast<sockaddr*>(&pair.to), sizeof pair.to);
      const double start = bench::thread_cpu_ns();
      for (int i = 0; i < batch; ++i) {
        sockaddr_in from{};
        int from_length = sizeof from;
        benchmark::DoNotOptimize(receive(static_cast<uintptr_t>(pair.receiver), buffer.data(),
                                         static_cast<int>(buffer.size()), 0, &from, &from_length));
      }
      return (bench::thread_cpu_ns() - start) / batch;
    };
  };
  bench::side_by_side(state, 31, side(sockets::real_receive), side(sockets::client_receive_filter));
}

#define RECEIVE_ROW(name, answer)                                       \
  void BM_Receive_##name(benchmark::State& state) { receive_bench(state, answer()); } \
  BENCHMARK(BM_Receive_##name)->Iterations(1)->Unit(benchmark::kMicrosecond);
RECEIVE_ROW(Plain1400, plain_answer)
RECEIVE_ROW(Split1300, split_answer)
RECEIVE_ROW(HostileAllB, split_all_b)
RECEIVE_ROW(HostilePairsOf0, split_pairs_of_0)
RECEIVE_ROW(HostileNuls, all_nuls)
RECEIVE_ROW(HostilePairAsValue, split_pair_as_value)
RECEIVE_ROW(HostilePlainLongText, plain_long_text)

// The scans alone, on a copy of the answer (the copy back included), for
// each answer: the friendly ones and the hostile ones, 1300 to 1472 bytes.
void scan_only(benchmark::State& state, const std::vector<uint8_t>& answer) {
  install_full();
  std::vector<uint8_t> copy = answer;
  const sockets::answer_sender sender{htonl(0x7F000001), htons(4711)};
  for (auto _ : state) {
    std::memcpy(copy.data(), answer.data(), answer.size());
    sockets::correct_answer(copy.data(), copy.size(), sender);
    benchmark::ClobberMemory();
  }
}
// The copy back alone, to take out of the rows above.
void BM_ScanOnly_CopyAlone(benchmark::State& state) {
  const std::vector<uint8_t> answer = all_nuls();
  std::vector<uint8_t> copy = answer;
  for (auto _ : state) {
    std::memcpy(copy.data(), answer.data(), answer.size());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_ScanOnly_CopyAlone);
#define SCAN_ROW(name, answer) \
  void BM_ScanOnly_##name(benchmark::State& state) { scan_only(state, answer()); } \
  BENCHMARK(BM_ScanOnly_##name);
SCAN_ROW(Plain1400, plain_answer)
SCAN_ROW(Split1300, split_answer)
SCAN_ROW(HostileAllB, split_all_b)
SCAN_ROW(HostilePairsOf0, split_pairs_of_0)
SCAN_ROW(HostileNuls, all_nuls)
SCAN_ROW(HostilePairAsValue, split_pair_as_value)
SCAN_ROW(HostilePlainLongText, plain_long_text)

}  // namespace
