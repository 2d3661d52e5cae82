// The doctor against files made to stall it or fill its memory: the whole
// check of a game folder whose ostrel.dll has 65,535 sections and 131,070
// resource types (3.7 MB), the version resource read from a DLL with the 96
// sections Windows allows and the same resource table, and the statistics
// queue view over the most queue files the library keeps (24 of the largest
// size) among 300 more large files of names the library never reads.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/queue_folder_view.h"
#include "doctor/doctor_findings.h"
#include "doctor/doctor_gather.h"
#include "library_image.h"
#include "pe/pe_library.h"
#include "platform/native/test_controls.h"
#include "snapshot/queue_file.h"

namespace {

namespace fs = std::filesystem;

std::string scratch(const std::string& name) {
  const char* tmp = std::getenv("TMPDIR");
  return std::string(tmp && *tmp ? tmp : "/tmp") + "/ostrel-bench-doctor-" +
         std::to_string(::getpid()) + "-" + name;
}

void write(const fs::path& path, const std::vector<uint8_t>& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> hostile_library(uint16_t sections) {
  library_image::options o;
  o.sections = sections;
  o.other_resource_types = 131069;
  return library_image::build(o);
}

void BM_ReadLibrary(benchmark::State& state) {
  const std::vector<uint8_t> file = hostile_library(static_cast<uint16_t>(state.range(0)));
  for (auto _ : state) {
    pe::library_view view;
    std::string error;
    benchmark::DoNotOptimize(pe::read_library(file.data(), file.size(), view, error));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file.size()));
}
BENCHMARK(BM_ReadLibrary)->Arg(0xFFFF)->Arg(96)->Unit(benchmark::kMillisecond);

// gather and judge, as "ostrel-tool doctor" does for a game folder.
void BM_DoctorOnHostileDll(benchmark::State& state) {
  const fs::path root = scratch("dll");
  platform::test::set_appdata_folder((root / "roaming").c_str());
  write(root / "game" / "ostrel.dll", hostile_library(0xFFFF));
  const int64_t now = 1800000000;
  for (auto _ : state) {
    const doctor::folder_read read = doctor::gather_folder((root / "game").string(), now);
    benchmark::DoNotOptimize(doctor::diagnose(read, now).size());
  }
  fs::remove_all(root);
}
BENCHMARK(BM_DoctorOnHostileDll)->Unit(benchmark::kMillisecond);

long peak_rss_kib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// A queue file of the largest body the library keeps, its body of zeros
// left sparse on disk (the head's digest covers it: made once).
void queue_file(const fs::path& path) {
  static const std::vector<uint8_t> head = [] {
    std::vector<uint8_t> whole(snapshot::qf_body + snapshot::queue_file_max_body);
    snapshot::format_queue_head(whole.data(), 1, 1800000000, snapshot::queue_file_max_body, 4242, 0);
    whole.resize(snapshot::qf_body);
    return whole;
  }();
  write(path, head);
  fs::resize_file(path, snapshot::qf_body + snapshot::queue_file_max_body);
}

// Counters: files listed, sound ones, and the process's peak resident memory
// (MiB; run this benchmark alone for it to be the view's): the program, the
// one 4 MiB buffer that made the files and the view's one body buffer,
// whatever the folder holds.
void BM_QueueView(benchmark::State& state) {
  const fs::path root = scratch("queue");
  for (int i = 0; i < 24; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "queued-%02d.hsq", i);
    queue_file(root / name);
  }
  for (int i = 0; i < 300; ++i) queue_file(root / ("sound-" + std::to_string(i) + ".hsq"));
  size_t listed = 0, sound = 0;
  for (auto _ : state) {
    tool::queue_listing listing;
    std::string error;
    tool::list_queue_folder(root.string(), listing, error);
    listed = listing.files.size();
    sound = 0;
    tool::read_queue_files(listing, [&sound](const tool::queued_file& f, const uint8_t*) {
      sound += f.sound ? 1 : 0;
    });
  }
  state.counters["listed"] = static_cast<double>(listed);
  state.counters["sound"] = static_cast<double>(sound);
  state.counters["peak_rss_MiB"] = static_cast<double>(peak_rss_kib()) / 1024.0;
  fs::remove_all(root);
}
BENCHMARK(BM_QueueView)->Unit(benchmark::kMillisecond);

}  // namespace
