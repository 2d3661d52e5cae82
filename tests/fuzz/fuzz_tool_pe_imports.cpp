// Arbitrary bytes as a game executable for patch-exe: the plan never reads
// outside the file, a patchable plan changes only the bytes it names (and the
// checksum), and the patched file plans as already patched.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "lookup_signing.h"
#include "pe/pe_imports.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using fuzz_support::check;
  pe::import_plan plan;
  std::string error;
  if (pe::plan_import_patch(data, size, plan, error) != 0) {
    check(!error.empty() && error.find('\n') == std::string::npos);
    return 0;
  }
  if (plan.state != pe::import_state::patchable) return 0;
  std::vector<uint8_t> file(data, data + size);
  pe::apply_import_patch(file.data(), file.size(), plan);
  std::vector<bool> may_change(size, false);
  auto allow = [&](size_t at, size_t n) {
    for (size_t i = at; i < at + n && i < size; ++i) may_change[i] = true;
  };
  for (size_t at : plan.import_names) allow(at, pe::import_name_size);
  for (size_t at : plan.bound_names) allow(at, pe::import_name_size);
  for (size_t at : plan.bound_stamps) allow(at, 4);
  for (size_t at : plan.old_style_stamps) allow(at, 4);
  if (plan.checksum_set) allow(plan.checksum_offset, 4);
  for (size_t i = 0; i < size; ++i) check(may_change[i] || file[i] == data[i]);

  pe::import_plan again;
  // A name both imported and bound may be one string; patched, it plans as done.
  if (pe::plan_import_patch(file.data(), file.size(), again, error) == 0)
    check(again.state == pe::import_state::already_patched);
  return 0;
}
