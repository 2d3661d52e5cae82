// The "HHHL3" lookup protocol between the library and the replacement
// service's lookup service: datagram layouts, fixed values and limits.
#pragma once
#include <cstddef>
#include <cstdint>

#include "core/process_state.h"

namespace redirect {

// Offset prefixes: lrq_ request datagram, lan_ answer datagram, lbody_ answer
// body (from the nonce on), lpl_ unmasked payload, lrec_ payload record.

inline constexpr uint8_t lookup_magic[5] = {'H', 'H', 'H', 'L', '3'};
inline constexpr size_t lookup_magic_size = 5;
inline constexpr uint8_t lookup_request_kind = 0x51;  // 'Q'
inline constexpr uint8_t lookup_answer_kind = 0x4F;   // 'O'
inline constexpr uint32_t lookup_client_tag = 0x51816BAC;
inline constexpr uint16_t lookup_port = 29960;
inline constexpr size_t lookup_id_size = 8;
inline constexpr size_t lookup_code_size = 16;

// Request: magic, kind, id in clear, then time, tag and the host image record
// masked with the id, then the keyed MD5 of id..record before masking.
inline constexpr size_t lrq_kind = 5;
inline constexpr size_t lrq_id = 6;
inline constexpr size_t lrq_time = 14;
inline constexpr size_t lrq_tag = 18;
inline constexpr size_t lrq_record = 22;
inline constexpr size_t lookup_request_fixed_size = 38;  // all but the record
inline constexpr size_t lookup_request_max_size =
    lookup_request_fixed_size + core::host_image_record_size;

// Answer datagram: magic, kind, then the body that verify-and-install takes:
// nonce, code and the masked payload.
inline constexpr size_t lan_kind = 5;
inline constexpr size_t lan_body = 6;
inline constexpr size_t lookup_answer_min_size = 30;
inline constexpr size_t lookup_answer_max_size = 2000;

inline constexpr size_t lbody_nonce = 0;
inline constexpr size_t lbody_code = 8;
inline constexpr size_t lbody_payload = 24;
inline constexpr size_t lookup_nonce_size = 8;
inline constexpr size_t lookup_body_min_size = 24;
inline constexpr size_t lookup_body_max_size = 2000;

// Payload, once unmasked: record count C, address count A, A addresses
// (network byte order), then C records.
inline constexpr size_t lpl_record_count = 0;
inline constexpr size_t lpl_address_count = 1;
inline constexpr size_t lpl_addresses = 2;

// Record: header (type in the high four bits, n in the low four), name key,
// 0 to 2 extra address indices by type, then n address indices (1 to A).
inline constexpr size_t lrec_header = 0;
inline constexpr size_t lrec_key = 1;
inline constexpr size_t lrec_extra = 5;
inline constexpr size_t lookup_record_min_size = 5;
inline constexpr uint8_t lrec_plain = 0x00;       // auxiliary pair (0, 0)
inline constexpr uint8_t lrec_one_aux = 0x10;     // one extra index x: pair (x, x)
inline constexpr uint8_t lrec_two_aux = 0x20;     // two extra indices: pair (x, y)
inline constexpr uint8_t lrec_same_aux = 0x30;    // the previous pair
inline constexpr uint8_t lrec_same_list = 0x40;   // previous pair and previous list

}  // namespace redirect
