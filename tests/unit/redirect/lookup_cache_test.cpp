// Look-up cache files: the "HTI1" layout, the loader's refusals, ages, and the
// largest answers (files of up to 2016 bytes load again).
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "base/bytes.h"
#include "library/startup.h"
#include "redirect/lookup_cache.h"
#include "redirect/name_key.h"
#include "redirect_fixture.h"

namespace {

using redirect_test::ip;

constexpr uint32_t now = 1800000000;

// An answer datagram for request (payload padded with zero bytes to size).
std::vector<uint8_t> answer_for(const redirect::lookup_request& request, uint32_t key,
                                uint32_t address, size_t size = 0) {
  service::lookup_payload p;
  p.add_record(0x00, key, {}, {p.address_number(address)});
  std::vector<uint8_t> payload = p.bytes();
  if (size) payload.resize(size - 30, 0);
  const uint8_t nonce[8] = {7, 7, 7, 7, 1, 2, 3, 4};
  return service::build_lookup_answer(deploy::lookup_chain, request.id, request.time, request.tag,
                                      nonce, payload);
}

redirect::lookup_request request_at(uint32_t time) {
  const uint8_t id[8] = {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8};
  const uint8_t record[46] = {46};
  redirect::lookup_request r;
  redirect::build_lookup_request(r, id, time, redirect::lookup_client_tag, record,
                                 deploy::lookup_chain);
  return r;
}

std::vector<uint8_t> cache_file(const redirect::lookup_request& request,
                                const std::vector<uint8_t>& answer) {
  std::vector<uint8_t> file(redirect::lookup_cache_max_size);
  file.resize(redirect::format_cache(request, answer.data(), answer.size(), file.data()));
  return file;
}

class LookupCache : public redirect_test::redirect_fixture {
 protected:
  void SetUp() override {
    redirect_fixture::SetUp();
    platform::test::set_clock(now);
  }
  bool installed(uint32_t key, uint32_t address) {
    uint32_t got = 0;
    return redirect::first_address(key, &got) == 0 && got == address;
  }
  std::string cache_path(int number) {
    return folder_.path() + "/Ostrel/network_" + std::to_string(number) + "_" +
           core::process.host_image_tag;
  }
  void write_file(int number, const std::vector<uint8_t>& bytes) {
    std::filesystem::create_directories(folder_.path() + "/Ostrel");
    std::ofstream(cache_path(number), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
};

TEST_F(LookupCache, FileLayoutIsHeaderThenAnswerFromItsNonce) {
  const redirect::lookup_request request = request_at(now - 5);
  const std::vector<uint8_t> answer = answer_for(request, 0x1234, ip(10, 1, 2, 3));
  const std::vector<uint8_t> file = cache_file(request, answer);

  ASSERT_EQ(file.size(), answer.size() + 16);
  EXPECT_EQ(std::memcmp(file.data(), "HTI1", 4), 0);
  EXPECT_EQ(bytes::load_u16le(file.data() + 4), answer.size() + 10);
  EXPECT_EQ(std::memcmp(file.data() + 6, request.id, 8), 0);
  EXPECT_EQ(bytes::load_u32le(file.data() + 14), now - 5);
  EXPECT_EQ(bytes::load_u32le(file.data() + 18), 0x51816BACu);
  EXPECT_EQ(std::vector<uint8_t>(file.begin() + 22, file.end()),
            std::vector<uint8_t>(answer.begin() + 6, answer.end()));
}

TEST_F(LookupCache, LoaderRefusesInconsistentFilesAndOldAnswers) {
  const redirect::lookup_request request = request_at(now - 1000);
  const std::vector<uint8_t> good = cache_file(request, answer_for(request, 0x99, ip(10, 9, 9, 9)));
  struct refusal {
    const char* what;
    std::vector<uint8_t> file;
    uint32_t max_age;
  };
  std::vector<refusal> refusals;
  auto changed = [&](const char* what, auto change, uint32_t max_age = 86400) {
    std::vector<uint8_t> f = good;
    change(f);
    refusals.push_back({what, f, max_age});
  };
  changed("length field one more", [](auto& f) { f[4]++; });
  changed("length field one less", [](auto& f) { f[4]--; });
  changed("file one byte longer", [](auto& f) { f.push_back(0); });
  changed("wrong magic", [](auto& f) { f[3] = '2'; });
  changed("stored id changed", [](auto& f) { f[6] ^= 1; });
  changed("stored time changed", [](auto& f) { f[14] ^= 1; });
  changed("stored tag changed", [](auto& f) { f[18] ^= 1; });
  changed("code changed", [](auto& f) { f[30] ^= 1; });
  changed("22 bytes", [](auto& f) { f.resize(22); });
  changed("stored answer of 23 bytes", [](auto& f) {
    f.resize(45);
    bytes::store_u16le(f.data() + 4, 39);
  });
  changed("older than its maximum age", [](auto&) {}, 999);

  for (const refusal& r : refusals) {
    SCOPED_TRACE(r.what);
    EXPECT_EQ(redirect::install_cache_bytes(r.file.data(), r.file.size(), r.max_age), 1);
    EXPECT_FALSE(installed(0x99, ip(10, 9, 9, 9)));
  }
  EXPECT_EQ(redirect::install_cache_bytes(good.data(), good.size(), 1000), 0) << "exactly its age";
  EXPECT_TRUE(installed(0x99, ip(10, 9, 9, 9)));

  // In the last day of the 32-bit date a young answer still loads: its time
  // and its age are added without wrapping.
  const uint32_t late = 0xFFFFF000u;
  platform::test::set_clock(late);
  const redirect::lookup_request late_request = request_at(late - 1000);
  const std::vector<uint8_t> late_file =
      cache_file(late_request, answer_for(late_request, 0x98, ip(10, 9, 9, 8)));
  EXPECT_EQ(redirect::install_cache_bytes(late_file.data(), late_file.size(), 86400), 0);
  EXPECT_TRUE(installed(0x98, ip(10, 9, 9, 8)));
}

TEST_F(LookupCache, LargestAnswersLoadAgain) {
  // An answer of 2000 bytes makes a file of 2016: it must load, since the
  // library itself accepted and stored it.  A longer file is no cache file.
  const redirect::lookup_request request = request_at(now);
  for (size_t size : {size_t{1984}, size_t{1985}, size_t{2000}}) {
    SCOPED_TRACE(size);
    redirect::address_table_allocate();
    const std::vector<uint8_t> file = cache_file(request, answer_for(request, 0x77, ip(10, 7, 7, 7), size));
    ASSERT_EQ(file.size(), size + 16);
    EXPECT_EQ(redirect::install_cache_bytes(file.data(), file.size(), 60), 0);
    EXPECT_TRUE(installed(0x77, ip(10, 7, 7, 7)));
  }
  std::vector<uint8_t> too_long = cache_file(request, answer_for(request, 0x77, ip(10, 7, 7, 7), 2000));
  too_long.push_back(0);
  bytes::store_u16le(too_long.data() + 4, static_cast<uint16_t>(too_long.size() - 6));
  EXPECT_EQ(redirect::install_cache_bytes(too_long.data(), too_long.size(), 60), 1);

  // Through the file: the loader reads all 2016 bytes and refuses 2017.
  write_file(0, cache_file(request, answer_for(request, 0x78, ip(10, 7, 7, 8), 2000)));
  EXPECT_EQ(redirect::load_cache(0, 60), 0);
  EXPECT_TRUE(installed(0x78, ip(10, 7, 7, 8)));
  write_file(0, too_long);
  EXPECT_EQ(redirect::load_cache(0, 60), 1);
}

TEST_F(LookupCache, WrittenFileLoadsAndAgesPerFile) {
  text::copy_bounded(core::process.host_image_tag, sizeof core::process.host_image_tag,
                     "0123456789abcdef0123456789abcdef");
  const uint32_t written = now - 13 * 3600;
  const redirect::lookup_request request = request_at(written);
  const std::vector<uint8_t> answer = answer_for(request, 0x55, ip(10, 5, 5, 5));
  ASSERT_EQ(redirect::write_cache(0, request, answer.data(), answer.size()), 0);
  std::ifstream in(cache_path(0), std::ios::binary);
  std::vector<uint8_t> on_disk((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(on_disk, cache_file(request, answer));

  // Thirteen hours old: too old for file 0 (12 h), young enough for file 1 (24 h).
  EXPECT_EQ(redirect::load_cache(0, 43200), 1);
  EXPECT_FALSE(installed(0x55, ip(10, 5, 5, 5)));
  write_file(1, on_disk);
  EXPECT_EQ(redirect::load_cache(1, 86400), 0);
  EXPECT_TRUE(installed(0x55, ip(10, 5, 5, 5)));

  EXPECT_EQ(redirect::load_cache(2, 86400), 1) << "no such file";
}

TEST_F(LookupCache, WriterReplacesTheFileWholeAndLeavesNothingBeside) {
  // The old file is never emptied in place: a reader that opened it before
  // the write still reads it whole, and the name then holds the new one.
  const redirect::lookup_request first = request_at(now - 60);
  const std::vector<uint8_t> first_answer = answer_for(first, 0x41, ip(10, 4, 1, 1));
  ASSERT_EQ(redirect::write_cache(0, first, first_answer.data(), first_answer.size()), 0);
  std::ifstream before(cache_path(0), std::ios::binary);
  ASSERT_TRUE(before.is_open());

  const redirect::lookup_request second = request_at(now);
  const std::vector<uint8_t> second_answer = answer_for(second, 0x42, ip(10, 4, 2, 2), 1500);
  ASSERT_EQ(redirect::write_cache(0, second, second_answer.data(), second_answer.size()), 0);
  std::vector<uint8_t> old_bytes((std::istreambuf_iterator<char>(before)),
                                 std::istreambuf_iterator<char>());
  EXPECT_EQ(old_bytes, cache_file(first, first_answer));
  std::ifstream after(cache_path(0), std::ios::binary);
  std::vector<uint8_t> new_bytes((std::istreambuf_iterator<char>(after)),
                                 std::istreambuf_iterator<char>());
  EXPECT_EQ(new_bytes, cache_file(second, second_answer));

  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder_.path() + "/Ostrel"))
    names.push_back(e.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"network_0_" + std::string(core::process.host_image_tag)});

  // A file that cannot take the new answer's place keeps its place, and the
  // temporary file goes.
  std::filesystem::remove(cache_path(0));
  std::filesystem::create_directories(cache_path(0) + "/occupied");
  EXPECT_EQ(redirect::write_cache(0, second, second_answer.data(), second_answer.size()), 1);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_.path() + "/Ostrel"),
                          std::filesystem::directory_iterator()),
            1);
  std::filesystem::remove_all(cache_path(0));
}

TEST_F(LookupCache, FileZeroReplacesWhatFileOneBrought) {
  // Start-up offers file 1, then file 0; each install empties the table first.
  const redirect::lookup_request request = request_at(now - 60);
  write_file(1, cache_file(request, answer_for(request, 0x31, ip(10, 3, 1, 1))));
  write_file(0, cache_file(request, answer_for(request, 0x30, ip(10, 3, 0, 1))));
  ASSERT_EQ(redirect::load_cache(1, 86400), 0);
  EXPECT_TRUE(installed(0x31, ip(10, 3, 1, 1)));
  ASSERT_EQ(redirect::load_cache(0, 43200), 0);
  EXPECT_TRUE(installed(0x30, ip(10, 3, 0, 1)));
  EXPECT_FALSE(installed(0x31, ip(10, 3, 1, 1)));
}

TEST_F(LookupCache, StartUpOffersFileOneThenFileZeroEachWithItsAge) {
  // Thirteen hours old: file 1 (a day) is taken, file 0 (twelve hours) is not.
  const redirect::lookup_request old = request_at(now - 13 * 3600);
  write_file(1, cache_file(old, answer_for(old, 0x31, ip(10, 3, 1, 1))));
  write_file(0, cache_file(old, answer_for(old, 0x30, ip(10, 3, 0, 1))));
  ASSERT_EQ(library::network_state_init(), 0);
  ASSERT_EQ(library::network_state_load(), 0);
  EXPECT_TRUE(installed(0x31, ip(10, 3, 1, 1)));
  EXPECT_FALSE(installed(0x30, ip(10, 3, 0, 1)));

  // A fresh file 0 comes second and replaces what file 1 brought.
  const redirect::lookup_request fresh = request_at(now - 60);
  write_file(0, cache_file(fresh, answer_for(fresh, 0x30, ip(10, 3, 0, 1))));
  ASSERT_EQ(library::network_state_init(), 0);
  ASSERT_EQ(library::network_state_load(), 0);
  EXPECT_TRUE(installed(0x30, ip(10, 3, 0, 1)));
  EXPECT_FALSE(installed(0x31, ip(10, 3, 1, 1)));
}

TEST_F(LookupCache, NoTableMeansNothingInstalled) {
  // After unload (or a failed allocation) a valid answer has nowhere to go:
  // that is a failure, not a success, so nobody stores it as the last good one.
  const redirect::lookup_request request = request_at(now - 60);
  write_file(0, cache_file(request, answer_for(request, 0x30, ip(10, 3, 0, 1))));
  redirect::address_table_release();
  EXPECT_EQ(redirect_test::install_payload(
                service::payload_from_table({{0x1234, {ip(10, 9, 9, 9)}}}).bytes()),
            1);
  EXPECT_EQ(redirect::load_cache(0, 43200), 1);
  ASSERT_EQ(redirect::address_table_allocate(), 0);
  EXPECT_EQ(redirect::load_cache(0, 43200), 0);
  EXPECT_TRUE(installed(0x30, ip(10, 3, 0, 1)));
}

}  // namespace
