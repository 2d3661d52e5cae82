// Request header.  It is made again before every attempt: a requeued snapshot
// carries the time of its latest attempt and the latest session values.
#include "snapshot/snapshot_header.h"

#include <atomic>
#include <cstring>

#include "base/bytes.h"
#include "base/hidden_text.h"
#include "base/text.h"
#include "core/service_state.h"
#include "deploy_values.h"
#include "digest/md5.h"
#include "platform/platform.h"

namespace snapshot {

void tsdata_text(uint32_t midpoint, uint32_t service_time, uint32_t start_time, uint32_t t2,
                 const char* p, char out[tsdata_text_size]) {
  text::format_bounded(out, tsdata_text_size, "%.8x%.8x%.8x%.8x",
                       static_cast<unsigned>(midpoint ^ deploy::tsdata_mask_a),
                       static_cast<unsigned>(service_time ^ deploy::tsdata_mask_b),
                       static_cast<unsigned>(start_time ^ deploy::tsdata_mask_a),
                       static_cast<unsigned>(t2 ^ deploy::tsdata_mask_b));
  uint8_t numbers[16];
  bytes::store_u32le(numbers, midpoint);
  bytes::store_u32le(numbers + 4, service_time);
  bytes::store_u32le(numbers + 8, start_time);
  bytes::store_u32le(numbers + 12, t2);
  digest::md5_context ctx;
  digest::md5_start(ctx);
  digest::md5_update(ctx, numbers, sizeof numbers);
  digest::md5_update_text(ctx, p);
  digest::md5_final(ctx);
  digest::md5_hex(ctx, out + 32);
}

int prepare_header(snapshot_record& record) {
  if (!record.buffer || record.header_reserve == 0) return 1;
  // The retired service's host names never stand in the library as plain text.
  static constexpr text::hidden_text stats_host{deploy::retired_stats_host};
  char host[stats_host.size];
  stats_host.reveal(host);
  const core::service_state empty{};
  const core::service_state& block = core::service ? *core::service : empty;
  // The script thread's gpaInit may store a new start time at this moment.
  const uint32_t start_time =
      core::service ? std::atomic_ref<uint32_t>(core::service->start_time).load(std::memory_order_acquire)
                    : 0;
  char tsdata[tsdata_text_size];
  tsdata_text(block.exchange_midpoint, block.service_time, start_time, platform::now_seconds(),
              block.provider_id, tsdata);

  char* area = reinterpret_cast<char*>(record.buffer);
  const int written = text::format_bounded(
      area, record.header_reserve,
      "POST %s HTTP/1.1\r\nHost: %s\r\nUser-Agent: OstrelLib 1.0\r\nConnection: close\r\n"
      "Content-Type: application/octet-stream\r\nContent-Length: %ld\r\n"
      "X-Ostrel-tsdata: %s\r\n\r\n%s",
      snapshot_path, host,
      static_cast<long>(record.body_length) + static_cast<long>(snapshot_magic_size), tsdata,
      snapshot_magic);
  text::wipe(host, sizeof host);
  if (written < static_cast<int>(header_min_length)) return 1;

  const uint32_t length = static_cast<uint32_t>(written);
  std::memmove(area + record.header_reserve - length, area, length);
  record.header_offset = record.header_reserve - length;
  record.header_length = length;
  return 0;
}

}  // namespace snapshot
