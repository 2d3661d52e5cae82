// A host's resource samples (hostsim's "resources" line) and their growth
// over a run once it has warmed up.
#pragma once
#include <string>
#include <vector>

namespace soak {

struct sample {
  double at_s = 0;  // seconds since the process started
  long private_bytes = 0, handles = 0, threads = 0, heap_blocks = 0;
};

// "ok private=N handles=N threads=N heap_blocks=N"; false when it is not one.
bool parse_sample(const std::string& line, double at_s, sample& out);

struct growth {
  bool measured = false;  // two samples or more after the warm-up
  double from_s = 0, to_s = 0;
  long private_bytes = 0, handles = 0, threads = 0, heap_blocks = 0;
  long peak_private_bytes = 0;
};

// From the first sample at or after warm_s to the last.
growth growth_after(const std::vector<sample>& samples, double warm_s);

}  // namespace soak
