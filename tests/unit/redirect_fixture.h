// Shared set-up of the host-name redirection tests: every process-wide piece
// they touch is put back to its load-time state, and the per-user folder and
// the working folder are a private temporary folder.
#pragma once
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/launcher.h"
#include "core/process_state.h"
#include "core/settings_file.h"
#include "base/text.h"
#include "deploy_values.h"
#include "platform/native/test_controls.h"
#include "redirect/address_table.h"
#include "redirect/answer_blocks.h"
#include "redirect/lookup_answer.h"
#include "redirect/lookup_protocol.h"
#include "redirect/lookup_refresh.h"
#include "redirect/redirection_table.h"
#include "service/lookup_messages.h"
#include "working_folder.h"

namespace redirect_test {

inline uint32_t ip(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  const uint8_t bytes[4] = {a, b, c, d};
  uint32_t v;
  std::memcpy(&v, bytes, 4);  // network byte order, as the library holds it
  return v;
}

// A name's key worked out with OpenSSL's MD5, apart from the library's own
// key routine (which the reference lookup service also uses).
inline uint32_t openssl_name_key(const std::string& name) {
  std::string lower = name;
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  unsigned char d[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  EVP_Digest(lower.data(), lower.size(), d, &n, EVP_md5(), nullptr);
  uint32_t key = 0;
  for (int word = 0; word < 4; ++word)
    for (int i = 0; i < 4; ++i) key ^= static_cast<uint32_t>(d[word * 4 + i]) << (24 - 8 * i);
  return key;
}

// Frees the calling thread's answer block as the DLL's thread detach does;
// test threads call it before they end.
inline void release_thread_answer_block() { redirect::thread_answer_block_release(); }

// Installs payload as a verified answer to a request made of fixed values.
inline int install_payload(const std::vector<uint8_t>& payload) {
  const uint8_t id[8] = {9, 8, 7, 6, 5, 4, 3, 2};
  const uint8_t nonce[8] = {1, 1, 2, 3, 5, 8, 13, 21};
  std::vector<uint8_t> answer =
      service::build_lookup_answer(deploy::lookup_chain, id, 1000, 0x51816BAC, nonce, payload);
  return redirect::verify_and_install(answer.data() + 6, answer.size() - 6, id, 1000, 0x51816BAC,
                                      true);
}

class redirect_fixture : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::test::set_appdata_folder(folder_.path().c_str());
    platform::test::registry_reset();
    platform::test::set_command_line("game.exe");
    platform::test::set_real_gethostbyname(nullptr);
    platform::test::use_real_clock();
    core::process.operating_mode = core::mode_client;
    text::copy_bounded(core::process.settings_file_name, sizeof core::process.settings_file_name,
                       "ostrel.cfg");
    text::copy_bounded(core::process.host_image_tag, sizeof core::process.host_image_tag,
                       "unknown");
    core::launcher_verdict = 1;
    core::settings_forget_last_attempt();
    core::settings_set_handler(redirect::redirection_entry);
    redirect::redirection_reset();
    ASSERT_EQ(redirect::address_table_allocate(), 0);
    redirect::answer_slot_allocate();
    redirect::last_refresh_time = 0;
  }
  void TearDown() override {
    release_thread_answer_block();
    platform::test::map_send_port(redirect::lookup_port, 0);
    platform::test::set_wait_hook(nullptr);
    platform::test::set_resolved_addresses({});
    platform::test::use_running_monotonic();
    platform::test::set_real_gethostbyname(nullptr);
    platform::test::use_real_clock();
    platform::test::registry_reset();
    core::process.operating_mode = 0;
  }

  working_folder folder_;
};

}  // namespace redirect_test
