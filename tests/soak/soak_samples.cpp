// Resource samples and their growth.
#include "soak_samples.h"

#include <algorithm>
#include <cstdio>

namespace soak {

bool parse_sample(const std::string& line, double at_s, sample& out) {
  out.at_s = at_s;
  return std::sscanf(line.c_str(), "ok private=%ld handles=%ld threads=%ld heap_blocks=%ld",
                     &out.private_bytes, &out.handles, &out.threads, &out.heap_blocks) == 4;
}

growth growth_after(const std::vector<sample>& samples, double warm_s) {
  growth g;
  const auto first = std::find_if(samples.begin(), samples.end(),
                                  [&](const sample& s) { return s.at_s >= warm_s; });
  if (first == samples.end() || first + 1 == samples.end()) return g;
  const sample& last = samples.back();
  g.measured = true;
  g.from_s = first->at_s;
  g.to_s = last.at_s;
  g.private_bytes = last.private_bytes - first->private_bytes;
  g.handles = last.handles - first->handles;
  g.threads = last.threads - first->threads;
  g.heap_blocks = last.heap_blocks - first->heap_blocks;
  for (auto s = first; s != samples.end(); ++s) g.peak_private_bytes = std::max(g.peak_private_bytes, s->private_bytes);
  return g;
}

}  // namespace soak
