// ostrel_soak [MINUTES]: both modes of the library under Wine for a long run
// against the reference service on loopback, then one table of what was
// checked and how the processes grew.  Exit 0 only when every line holds.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "server_flow.h"
#include "soak_client.h"
#include "soak_server.h"
#include "wine_host.h"

namespace {

// Growth allowed from the first sample after warm-up to the last, whatever
// the length of the run: a leak of a block per look-up thread, a socket or a
// thread per batch shows within minutes, while the heaps' own slack and
// Wine's caches stay well inside these.
constexpr long max_private_growth = 1 << 20;
constexpr long max_handle_growth = 16;
constexpr long max_thread_growth = 2;
constexpr long max_heap_block_growth = 200;

int failures = 0;

void row(const char* what, const std::string& value, bool holds) {
  std::printf("  %-44s %-28s %s\n", what, value.c_str(), holds ? "ok" : "FAIL");
  if (!holds) ++failures;
}
void info(const char* what, const std::string& value) { std::printf("  %-44s %s\n", what, value.c_str()); }

std::string n(long v) { return std::to_string(v); }

long folder_bytes(const std::string& folder) {
  long total = 0;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(folder, ec))
    total += static_cast<long>(e.file_size(ec));
  return total;
}

void growth_rows(const char* who, const std::vector<soak::sample>& samples, double warm_s) {
  const soak::growth g = soak::growth_after(samples, warm_s);
  std::string title = std::string(who) + ": samples after warm-up";
  row(title.c_str(), g.measured ? n(static_cast<long>(g.from_s)) + " s to " + n(static_cast<long>(g.to_s)) + " s" : "too few", g.measured);
  if (!g.measured) return;
  char text[64];
  std::snprintf(text, sizeof text, "%+ld KiB (peak %ld KiB)", g.private_bytes / 1024, g.peak_private_bytes / 1024);
  row((std::string(who) + ": private bytes growth").c_str(), text, g.private_bytes < max_private_growth);
  row((std::string(who) + ": handle growth").c_str(), n(g.handles), g.handles < max_handle_growth);
  row((std::string(who) + ": thread growth").c_str(), n(g.threads), g.threads <= max_thread_growth);
  row((std::string(who) + ": heap block growth").c_str(), n(g.heap_blocks), g.heap_blocks < max_heap_block_growth);
}

}  // namespace

int main(int argc, char** argv) {
  const double minutes = argc > 1 ? std::atof(argv[1]) : 60;
  if (!(minutes >= 2)) {
    std::fprintf(stderr, "usage: ostrel_soak [MINUTES]  (2 or more; default 60)\n");
    return 2;
  }
  const double seconds = minutes * 60;
  if (!e2e::wine_runs()) {
    std::fprintf(stderr, "soak: Wine cannot run 32-bit programs here\n");
    return 1;
  }
  e2e::start_wine();
  server_flow::reference_service service;
  std::string why;
  if (!service.start(&why)) {
    std::fprintf(stderr, "soak: the reference service did not start: %s\n", why.c_str());
    e2e::stop_wine();
    return 1;
  }
  std::printf("soak: %.0f minutes, both modes under Wine, the reference service on loopback\n", minutes);
  std::fflush(stdout);

  soak::client_report client;
  std::thread client_thread([&] { client = soak::run_client(seconds, service.lookup); });
  soak::server_report server = soak::run_server(seconds, service);
  client_thread.join();
  service.stop();
  e2e::stop_wine();

  const double warm_s = std::max(60.0, seconds / 10);
  const double hours = seconds / 3600;
  std::printf("\nsoak: what was checked (warm-up %.0f s)\n", warm_s);
  row("client: load ran to the end", client.failure.empty() ? "yes" : client.failure, client.failure.empty());
  info("client: batches, threads started", n(client.batches) + ", " + n(client.threads));
  row("client: query answers checked", n(client.queries), client.queries > 0);
  row("client: query answers wrong", n(client.queries_wrong), client.queries_wrong == 0);
  info("client: queries unanswered (timed out)", n(client.queries_unanswered));
  row("client: look-ups checked", n(client.lookups), client.lookups > 0);
  row("client: look-ups wrong", n(client.lookups_wrong), client.lookups_wrong == 0);
  row("client: ranked list refreshes", n(client.refreshes) + " (" + n(client.refreshes_failed) + " failed)",
      client.refreshes > 0);
  growth_rows("client", client.samples, warm_s);
  info("client: log per hour", n(static_cast<long>(folder_bytes(client.log_folder) / hours)) + " bytes");

  row("server: load ran to the end", server.failure.empty() ? "yes" : server.failure, server.failure.empty());
  row("server: snapshots submitted", n(server.submitted) + " (" + n(server.declined) + " declined)",
      server.submitted > 0 && server.declined == 0);
  row("server: delivered once", n(server.delivered_once), server.delivered_once > 0);
  row("server: dropped with a logged reason", n(server.dropped_logged), true);
  row("server: lost", n(server.lost), server.lost == 0);
  // Where the library cannot know that the service has a snapshot (killed
  // during its upload, or the reply cut at its deadline after the service
  // took it), it drops it with a line or sends it again: at most one such
  // outcome for each of those, and none otherwise.
  const long unknowable = server.kills + server.unconfirmed;
  row("server: delivered twice", n(server.delivered_twice), true);
  row("server: delivered and dropped too", n(server.both), true);
  row("server: twice + both (at most kills + cut replies)", n(server.delivered_twice + server.both) + " of " + n(unknowable),
      server.delivered_twice + server.both <= unknowable);
  row("server: files left in the queue folder", n(server.files_left), server.files_left == 0);
  row("server: delivered, never submitted", n(server.delivered_unknown), server.delivered_unknown == 0);
  row("server: killed and started again", n(server.kills), server.kills > 0);
  row("server: session exchanges answered", n(server.exchanges), server.exchanges > 0);
  info("server: script log lines, echoed", n(server.script_lines) + ", " + n(server.echoed));
  growth_rows("server (after the restart)", server.samples, warm_s);
  info("server: log per hour", n(static_cast<long>(folder_bytes(server.log_folder) / hours)) + " bytes");

  std::string schedule;
  for (const std::string& s : server.schedule) schedule += (schedule.empty() ? "" : ", ") + s;
  std::printf("\nsoak: web server faults: %s\n", schedule.c_str());
  for (const std::string& w : client.wrong) std::printf("soak: client: %s\n", w.c_str());
  for (const std::string& w : server.notes) std::printf("soak: server: %s\n", w.c_str());
  auto print_samples = [](const char* who, const std::vector<soak::sample>& samples) {
    for (const soak::sample& s : samples)
      std::printf("soak: %s sample %5.0f s: private %ld handles %ld threads %ld heap blocks %ld\n", who,
                  s.at_s, s.private_bytes, s.handles, s.threads, s.heap_blocks);
  };
  print_samples("client", client.samples);
  print_samples("server", server.samples);
  std::printf("\nsoak: %s\n", failures == 0 ? "every check held" : (n(failures) + " check(s) failed").c_str());
  return failures == 0 ? 0 : 1;
}
