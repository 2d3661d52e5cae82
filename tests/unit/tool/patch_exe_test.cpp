// The import patcher: planned over hand-made executables (every refusal, and
// exactly which bytes change), over the real executables of the Windows build
// (against objdump and the linker's own checksum), and the patch-exe command
// run as a player runs it: backup, refusals that leave the file alone, restore.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "import_image.h"
#include "pe/pe_imports.h"
#include "scratch_dir.h"
#include "tool_runner.h"

namespace {

using bytes_t = std::vector<uint8_t>;

bytes_t read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return bytes_t(std::istreambuf_iterator<char>(in), {});
}

std::set<size_t> differing(const bytes_t& a, const bytes_t& b) {
  std::set<size_t> out;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i)
    if (a[i] != b[i]) out.insert(i);
  return out;
}

// The bytes of the name at offset that differ from "ostrel.dll" (".dll" stays).
void add_name(std::set<size_t>& s, const bytes_t& file, size_t offset) {
  for (size_t i = 0; i < 10; ++i)
    if (file[offset + i] != static_cast<uint8_t>(pe::library_name[i])) s.insert(offset + i);
}

// Plans and applies; the patched copy, or the refusal's text.
struct outcome {
  int result = 1;
  pe::import_plan plan;
  std::string error;
  bytes_t patched;
};
outcome patch(const bytes_t& file) {
  outcome o;
  o.result = pe::plan_import_patch(file.data(), file.size(), o.plan, o.error);
  o.patched = file;
  if (o.result == 0) pe::apply_import_patch(o.patched.data(), o.patched.size(), o.plan);
  return o;
}

TEST(PatchExe, RefusesWhatItCannotPatch) {
  using import_image::options;
  options ws2_as_module_name;
  ws2_as_module_name.dlls = {"KERNEL32.dll", "WS2_32"};
  // A name from the file is quoted with its control bytes spelled out, so
  // that a hostile file cannot break the one-line message or drive the
  // terminal.
  options ws2_with_controls;
  ws2_with_controls.dlls = {"KERNEL32.dll", "WS2_32.\n\x1b[2J"};
  options no_ws2;
  no_ws2.dlls = {"KERNEL32.dll", "USER32.dll"};
  options no_imports;
  no_imports.imports = false;
  options wide;
  wide.pe32_plus = true;
  options bound_without_names;
  bound_without_names.bound = true;
  bound_without_names.name_tables = false;
  bytes_t not_mz = import_image::build({});
  not_mz[0] = 'Z';
  bytes_t no_pe = import_image::build({});
  no_pe[0x81] = 'X';

  const struct {
    const char* what;
    bytes_t file;
    const char* error;
  } cases[] = {
      {"not MZ", not_mz, "not a Windows executable"},
      {"MZ without PE", no_pe, "not a PE executable"},
      {"64-bit", import_image::build(wide), "64-bit"},
      {"no imports", import_image::build(no_imports), "does not import WS2_32.dll (it imports nothing)"},
      {"no WS2_32", import_image::build(no_ws2), "does not import WS2_32.dll"},
      {"WS2_32 without .dll", import_image::build(ws2_as_module_name),
       "imports WS2_32 by the name \"WS2_32\", which cannot be rewritten"},
      {"WS2_32 with control bytes", import_image::build(ws2_with_controls),
       "imports WS2_32 by the name \"WS2_32.\\x0a\\x1b[2J\", which cannot be rewritten"},
      {"bound, no name table", import_image::build(bound_without_names), "no name table"},
      {"empty", bytes_t{}, "not a Windows executable"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    outcome o = patch(c.file);
    EXPECT_EQ(o.result, 1);
    EXPECT_NE(o.error.find(c.error), std::string::npos) << o.error;
    EXPECT_EQ(o.error.find('\n'), std::string::npos);
    EXPECT_EQ(o.error.find('\x1b'), std::string::npos);
  }
}

TEST(PatchExe, RefusesEveryTruncationOfAPatchableFile) {
  for (bool bound : {false, true}) {
    import_image::options o;
    o.bound = bound;
    const bytes_t whole = import_image::build(o);
    ASSERT_EQ(patch(whole).result, 0);
    for (size_t cut = 0; cut < whole.size(); ++cut) {
      outcome r = patch(bytes_t(whole.begin(), whole.begin() + static_cast<long>(cut)));
      ASSERT_EQ(r.result, 1) << "cut at " << cut;
    }
  }
}

TEST(PatchExe, ChangesOnlyTheNamesStampsAndChecksum) {
  const struct {
    const char* what;
    import_image::options options;
    const char* spelling;
  } cases[] = {
      {"by name", {}, "WS2_32.dll"},
      {"other letter case", {{"KERNEL32.dll", "ws2_32.DLL"}}, "ws2_32.DLL"},
      {"bound", {{"KERNEL32.dll", "WS2_32.dll"}, true}, "WS2_32.dll"},
      {"old-style binding", {{"WS2_32.dll", "KERNEL32.dll"}, false, true}, "WS2_32.dll"},
      {"with checksum", {{"WS2_32.dll", "KERNEL32.dll"}, true, false, true, true}, "WS2_32.dll"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const bytes_t file = import_image::build(c.options);
    outcome o = patch(file);
    ASSERT_EQ(o.result, 0) << o.error;
    EXPECT_EQ(o.plan.state, pe::import_state::patchable);
    EXPECT_EQ(o.plan.imported_as, c.spelling);

    std::set<size_t> expected;
    const size_t name = import_image::find_name(file, c.spelling, c.options.bound ? 1 : 0);
    ASSERT_NE(name, std::string::npos);
    add_name(expected, file, name);
    EXPECT_EQ(bytes_t(o.patched.begin() + static_cast<long>(name),
                      o.patched.begin() + static_cast<long>(name) + 11),
              bytes_t({'o', 's', 't', 'r', 'e', 'l', '.', 'd', 'l', 'l', 0}));
    if (c.options.bound) {
      // The bound table's copy of the name comes first in the file; its entry
      // is stamped so that the loader never trusts it.
      const size_t bound_name = import_image::find_name(file, c.spelling, 0);
      add_name(expected, file, bound_name);
      const size_t index = c.options.dlls[0] == c.spelling ? 0 : 1;
      const size_t entry = import_image::bound_table_offset + 8 * index;
      EXPECT_EQ(bytes::load_u32le(&o.patched[entry]), pe::stale_bound_stamp);
      for (size_t i = 0; i < 4; ++i)
        if (file[entry + i] != 0xFF) expected.insert(entry + i);
    }
    if (c.options.old_style_bound) {
      const size_t stamp = 0x400 + 4;  // the first descriptor's time stamp
      EXPECT_EQ(bytes::load_u32le(&o.patched[stamp]), 0u);
      for (size_t i = stamp; i < stamp + 4; ++i) expected.insert(i);
    }
    std::set<size_t> changed = differing(file, o.patched);
    if (c.options.checksum) {
      const size_t at = import_image::checksum_offset;
      EXPECT_EQ(bytes::load_u32le(&o.patched[at]), pe::pe_checksum(o.patched.data(), o.patched.size(), at));
      for (size_t i = at; i < at + 4; ++i) changed.erase(i);
    } else {
      EXPECT_EQ(bytes::load_u32le(&o.patched[import_image::checksum_offset]), 0u);
    }
    EXPECT_EQ(changed, expected);

    outcome again = patch(o.patched);
    ASSERT_EQ(again.result, 0) << again.error;
    EXPECT_EQ(again.plan.state, pe::import_state::already_patched);
  }
}

TEST(PatchExe, ChecksumFoldsWordsAndAddsTheLength) {
  // 0x0201 + 0x0003 (the odd last byte alone) + 3 bytes; the field's bytes count as 0.
  const bytes_t odd = {0x01, 0x02, 0x03};
  EXPECT_EQ(pe::pe_checksum(odd.data(), odd.size(), 100), 0x0207u);
  const bytes_t carry = {0xFF, 0xFF, 0x02, 0x00, 0xAA, 0xBB, 0xCC, 0xDD};
  EXPECT_EQ(pe::pe_checksum(carry.data(), carry.size(), 4), 0x0002u + 8);
}

// ---- The real executables of the Windows build ------------------------------

TEST(PatchExe, RealHostsimPlainBecomesAnOstrelImporter) {
  const std::filesystem::path plain = std::filesystem::path(OSTREL_WIN_BIN) / "hostsim_plain/hostsim.exe";
  if (std::string(OSTREL_WIN_BIN).empty() || !std::filesystem::is_regular_file(plain))
    GTEST_SKIP() << "no Windows build in '" << OSTREL_WIN_BIN << "'";
  const bytes_t file = read_all(plain);
  outcome o = patch(file);
  ASSERT_EQ(o.result, 0) << o.error;
  EXPECT_EQ(o.plan.imported_as, "WS2_32.dll");
  ASSERT_TRUE(o.plan.checksum_set) << "the linker sets the checksum";
  // The linker's checksum of the original is the independent vector for ours.
  EXPECT_EQ(pe::pe_checksum(file.data(), file.size(), o.plan.checksum_offset),
            bytes::load_u32le(&file[o.plan.checksum_offset]));

  std::set<size_t> changed = differing(file, o.patched);
  for (size_t i = 0; i < 4; ++i) changed.erase(o.plan.checksum_offset + i);
  ASSERT_EQ(o.plan.import_names.size(), 1u);
  std::set<size_t> expected;
  add_name(expected, file, o.plan.import_names[0]);
  EXPECT_EQ(changed, expected);

  scratch_dir dir;
  const std::string copy = dir.write("hostsim.exe", o.patched);
  const std::string dump = run_command("i686-w64-mingw32-objdump -p '" + copy + "' 2>&1");
  EXPECT_NE(dump.find("DLL Name: ostrel.dll"), std::string::npos) << dump;
  EXPECT_EQ(dump.find("WS2_32"), std::string::npos);
  EXPECT_NE(dump.find("DLL Name: KERNEL32.dll"), std::string::npos);
}

// ---- The command ---------------------------------------------------------

TEST(PatchExeCommand, PatchesWithABackupAndRestoresByteForByte) {
  scratch_dir dir;
  import_image::options o;
  o.checksum = true;
  const bytes_t original = import_image::build(o);
  dir.write("game.exe", original);
  const std::string exe = dir.path() + "/game.exe", backup = exe + ".ostrel-backup";

  tool_result check = run_tool(dir, "patch-exe --check game.exe");
  EXPECT_EQ(check.status, 0);
  EXPECT_NE(check.out.find("imports WS2_32.dll; patch-exe would make it import ostrel.dll"),
            std::string::npos) << check.out;
  EXPECT_EQ(read_all(exe), original);
  EXPECT_FALSE(std::filesystem::exists(backup));

  tool_result patched = run_tool(dir, "patch-exe game.exe");
  ASSERT_EQ(patched.status, 0) << patched.err;
  EXPECT_EQ(read_all(backup), original);
  const bytes_t after = read_all(exe);
  EXPECT_EQ(after, patch(original).patched);
  EXPECT_FALSE(std::filesystem::exists(exe + ".ostrel-tmp"));

  expect_refusal(run_tool(dir, "patch-exe game.exe"), "already imports ostrel.dll");
  tool_result json = run_tool(dir, "patch-exe --check --json game.exe");
  EXPECT_EQ(json.status, 0);
  EXPECT_NE(json.out.find("\"state\": \"already_patched\""), std::string::npos) << json.out;
  EXPECT_NE(json.out.find("\"backup_exists\": true"), std::string::npos) << json.out;

  tool_result restored = run_tool(dir, "patch-exe --restore game.exe");
  ASSERT_EQ(restored.status, 0) << restored.err;
  EXPECT_EQ(read_all(exe), original);
  EXPECT_FALSE(std::filesystem::exists(backup));
  expect_refusal(run_tool(dir, "patch-exe --restore game.exe"), "no backup");
}

TEST(PatchExeCommand, RefusalsLeaveEveryFileAlone) {
  scratch_dir dir;
  const bytes_t original = import_image::build({});
  const bytes_t truncated(original.begin(), original.begin() + 0x300);
  import_image::options wide;
  wide.pe32_plus = true;
  dir.write("cut.exe", truncated);
  dir.write("wide.exe", import_image::build(wide));
  dir.write("game.exe", original);
  dir.write("game.exe.ostrel-backup", {'o', 'l', 'd'});

  expect_refusal(run_tool(dir, "patch-exe cut.exe"), "cut.exe: truncated");
  expect_refusal(run_tool(dir, "patch-exe --check cut.exe"), "truncated");
  expect_refusal(run_tool(dir, "patch-exe wide.exe"), "64-bit");
  expect_refusal(run_tool(dir, "patch-exe game.exe"), "exists already");
  expect_refusal(run_tool(dir, "patch-exe missing.exe"), "missing.exe: cannot open");
  // The executable is not what patch-exe made of this backup: no restore.
  expect_refusal(run_tool(dir, "patch-exe --restore game.exe"), "nothing restored");
  EXPECT_EQ(read_all(dir.path() + "/cut.exe"), truncated);
  EXPECT_EQ(read_all(dir.path() + "/game.exe"), original);
  EXPECT_EQ(read_all(dir.path() + "/game.exe.ostrel-backup"), (bytes_t{'o', 'l', 'd'}));
  EXPECT_FALSE(std::filesystem::exists(dir.path() + "/cut.exe.ostrel-backup"));
  EXPECT_FALSE(std::filesystem::exists(dir.path() + "/wide.exe.ostrel-backup"));

  tool_result usage = run_tool(dir, "patch-exe --check --restore game.exe");
  EXPECT_NE(usage.status, 0);
  EXPECT_EQ(std::count(usage.err.begin(), usage.err.end(), '\n'), 1) << usage.err;
}

}  // namespace
