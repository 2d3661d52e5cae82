// The reference service's statistics keys for this build's deployment values:
// what the service holds when it is started with the same values file.
#pragma once
#include "deploy_values.h"
#include "service/stats_messages.h"

namespace test_support {

inline service::stats_keys deployment_stats_keys() {
  service::stats_keys k;
  k.identity_start = deploy::identity_start_byte;
  k.request_start = deploy::session_request_start_byte;
  k.reply_start = deploy::session_reply_start_byte;
  k.mask_a = deploy::tsdata_mask_a;
  k.mask_b = deploy::tsdata_mask_b;
  return k;
}

}  // namespace test_support
