// The host image record: checked on the real executables of the Windows build
// against objdump's reading of their section tables, and on hand-made files
// whose headers are short, wrong or lying about what the file holds.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "core/host_image.h"
#include "core/process_state.h"
#include "digest/md5.h"
#include "pe_builder.h"
#include "scratch_dir.h"

namespace {

using bytes_t = std::vector<uint8_t>;

bytes_t openssl_md5(const uint8_t* data, size_t n) {
  bytes_t d(EVP_MAX_MD_SIZE);
  unsigned int len = 0;
  EVP_Digest(data, n, d.data(), &len, EVP_md5(), nullptr);
  d.resize(len);
  return d;
}

bytes_t read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return bytes_t(std::istreambuf_iterator<char>(in), {});
}

struct host_image {
  uint8_t record[core::host_image_record_size] = {};
  char tag[33] = "unknown";
};

// Leaves the file position at the end first: the record is read from the
// file's start whatever the caller did with the stream before.
host_image compute(const std::string& path) {
  host_image out;
  FILE* f = std::fopen(path.c_str(), "rb");
  EXPECT_NE(f, nullptr) << path;
  if (!f) return out;
  std::fseek(f, 0, SEEK_END);
  core::compute_host_image_record(f, out.record, out.tag);
  std::fclose(f);
  return out;
}

// Checks every field of the record against the file's bytes and the range
// [text_offset, text_offset + text_count) that should have been hashed as ".text".
void expect_record(const host_image& got, const bytes_t& file, size_t text_offset,
                   size_t text_count) {
  const uint8_t* r = got.record;
  EXPECT_EQ(bytes::load_u16le(r + core::hir_length), 46);
  uint8_t magic[4] = {};
  for (size_t i = 0; i < 4 && i < file.size(); ++i) magic[i] = file[i];
  EXPECT_EQ(bytes_t(r + core::hir_magic, r + core::hir_magic + 4), bytes_t(magic, magic + 4));
  EXPECT_EQ(bytes::load_u32le(r + core::hir_file_bytes), file.size());

  const bytes_t file_md5 = openssl_md5(file.data(), file.size());
  EXPECT_EQ(bytes_t(r + core::hir_file_md5, r + core::hir_file_md5 + 16), file_md5);
  char hex[33];
  digest::hex_encode(file_md5.data(), 16, hex);
  EXPECT_STREQ(got.tag, hex);

  EXPECT_EQ(bytes::load_u32le(r + core::hir_text_bytes), text_count);
  const bytes_t text_md5 = openssl_md5(file.data() + text_offset, text_count);
  EXPECT_EQ(bytes_t(r + core::hir_text_md5, r + core::hir_text_md5 + 16), text_md5);
  if (text_count == 0) {
    digest::hex_encode(r + core::hir_text_md5, 16, hex);
    EXPECT_STREQ(hex, "d41d8cd98f00b204e9800998ecf8427e");
  }
}

// ---- The real executables ---------------------------------------------------

std::string run(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
  pclose(p);
  return out;
}

struct text_section {
  std::string unreadable;  // what could not be read from objdump's output, if anything
  uint32_t file_offset = 0;
  uint32_t raw_size = 0;
};

// objdump -h gives the section's virtual size and file offset; the linker
// pads raw data to the file alignment that objdump -p reports.
text_section objdump_text_section(const std::string& path) {
  text_section t;
  const std::string objdump = "i686-w64-mingw32-objdump";
  std::smatch m;
  const std::string sections = run(objdump + " -h '" + path + "' 2>/dev/null");
  static const std::regex text_line(
      R"(\n\s*\d+\s+\.text\s+([0-9a-f]+)\s+[0-9a-f]+\s+[0-9a-f]+\s+([0-9a-f]+)\s)");
  if (!std::regex_search(sections, m, text_line)) {
    t.unreadable = "no .text line in `objdump -h`:\n" + sections;
    return t;
  }
  const uint32_t virtual_size = std::stoul(m[1], nullptr, 16);
  t.file_offset = std::stoul(m[2], nullptr, 16);

  const std::string headers = run(objdump + " -p '" + path + "' 2>/dev/null");
  static const std::regex alignment_line(R"(\nFileAlignment\s+([0-9a-f]+)\s)");
  const uint32_t alignment =
      std::regex_search(headers, m, alignment_line) ? std::stoul(m[1], nullptr, 16) : 0;
  if (alignment == 0) {
    t.unreadable = "no FileAlignment in `objdump -p`";
    return t;
  }
  t.raw_size = (virtual_size + alignment - 1) / alignment * alignment;
  return t;
}

TEST(HostImage, RealExecutablesMatchObjdump) {
  const std::filesystem::path bin = OSTREL_WIN_BIN;
  std::vector<std::string> files;
  for (const char* name :
       {"ostrel.dll", "hostsim_plain/hostsim.exe", "hostsim_ostrel/hostsim.exe"})
    if (!bin.empty() && std::filesystem::is_regular_file(bin / name)) files.push_back(bin / name);
  if (files.empty()) GTEST_SKIP() << "no executables of the Windows build in '" << bin << "'";

  for (const auto& path : files) {
    SCOPED_TRACE(path);
    const text_section text = objdump_text_section(path);
    // The only check of the section's place that does not come from our own
    // reader: output it cannot parse is a failure, never a skip.
    ASSERT_EQ(text.unreadable, "") << "objdump's output for " << path << " could not be read";
    const bytes_t file = read_all(path);
    ASSERT_LE(static_cast<size_t>(text.file_offset) + text.raw_size, file.size());
    EXPECT_EQ(bytes_t(file.begin(), file.begin() + 4), (bytes_t{'M', 'Z', 0x90, 0}));

    uint32_t offset = 0, size = 0;
    FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(core::find_text_section(f, &offset, &size), 0);
    std::fclose(f);
    EXPECT_EQ(offset, text.file_offset);
    EXPECT_EQ(size, text.raw_size);

    expect_record(compute(path), file, text.file_offset, text.raw_size);
  }
}

// ---- Hand-made files ----------------------------------------------------------

pe_builder::layout with_sections(std::vector<pe_builder::section> sections) {
  pe_builder::layout l;
  l.sections = std::move(sections);
  return l;
}

TEST(HostImage, HandMadeFiles) {
  using pe_builder::layout;
  const uint32_t big = 0x6000;
  struct case_t {
    const char* name;
    bytes_t file;
    size_t text_offset;  // where the hashed ".text" bytes start, if any
    size_t text_count;
  };
  std::vector<case_t> cases;
  auto add = [&](const char* name, const bytes_t& file, size_t offset, size_t count) {
    cases.push_back({name, file, offset, count});
  };

  auto single = [](const char* name, uint32_t size, uint32_t offset) {
    return pe_builder::build(with_sections({{name, size, offset}}));
  };

  add("empty file", {}, 0, 0);
  add("three bytes", {'M', 'Z', 0x90}, 0, 0);
  add("one .text", single(".text", 0x1800, 0x400), 0x400, 0x1800);
  {
    // Several 8000-byte chunks, ending mid-chunk, with more data after the section.
    layout l = with_sections(
        {{".rdata", 0x200, 0x400}, {".data", 0x200, 0x600}, {".text", 20001, 0x800}});
    l.file_size = big;
    add(".text third and longer than a chunk", pe_builder::build(l), 0x800, 20001);
  }
  {
    // The file is read in 64 KiB pieces: a section that starts inside one,
    // spans several whole ones and ends inside another, off block boundaries.
    layout l = with_sections({{".rdata", 0x200, 0x400}, {".text", 0x30001, 0x10403}});
    l.file_size = 0x50000;
    add(".text across several pieces", pe_builder::build(l), 0x10403, 0x30001);
  }
  {
    layout l = with_sections({{".text", 0x10000, 0x10000}});
    l.file_size = 0x20000;
    add(".text exactly the second piece", pe_builder::build(l), 0x10000, 0x10000);
  }
  {
    layout l = with_sections({{".text", 0x200, 0x400}});
    l.optional_size = 240;
    add("larger optional header", pe_builder::build(l), 0x400, 0x200);
  }
  {
    layout l = with_sections({{".text", 0x200, 0x400}});
    l.mz = false;
    add("not MZ", pe_builder::build(l), 0, 0);
  }
  {
    layout l = with_sections({{".text", 0x200, 0x400}});
    l.pe_signature = false;
    add("no PE signature", pe_builder::build(l), 0, 0);
  }
  {
    layout l = with_sections({{".text", 0x200, 0x400}});
    l.new_header_offset = 0x10000;
    add("new header past the end", pe_builder::build(l), 0, 0);
  }
  {
    layout l = with_sections({{".text", 0x200, 0x400}});
    l.file_size = l.new_header_offset + 100;  // the 248-byte new header is cut
    add("new header cut short", pe_builder::build(l), 0, 0);
  }
  {
    layout l = with_sections({{".text", 0x200, 0x400}});
    l.section_count = 0;
    add("zero sections", pe_builder::build(l), 0, 0);
  }
  {
    layout l = with_sections({{".data", 0x200, 0x400}, {".text", 0x200, 0x600}});
    l.section_count = 1;
    add(".text beyond the section count", pe_builder::build(l), 0, 0);
  }
  {
    layout l = with_sections({{".data", 0x200, 0x400}, {".rdata", 0x200, 0x600}});
    l.section_count = 65535;
    l.file_size = pe_builder::section_table_offset(l) + 2 * 40;
    add("65535 sections claimed, two present", pe_builder::build(l), 0, 0);
  }
  add("no .text",
      pe_builder::build(with_sections(
          {{".textbss", 0x200, 0x400}, {".TEXT", 0x200, 0x600}, {".tex", 0x200, 0x800}})),
      0, 0);
  {
    // Only the first six name bytes count: what follows the zero is not looked at.
    layout l = with_sections({{std::string(".text\0ab", 8), 0x200, 0x400}});
    add(".text, a zero, then two more bytes", pe_builder::build(l), 0x400, 0x200);
  }
  add(".text of size 0", single(".text", 0, 0x400), 0, 0);
  add(".text starts past the end", single(".text", 0x100, 0x10000), 0, 0);
  add(".text starts at the end", single(".text", 0x100, 0x3000), 0, 0);
  add(".text runs past the end", single(".text", 0x4000, 0x2000), 0x2000, 0x1000);
  add(".text claims 4 GiB", single(".text", 0xFFFFFFFFu, 0x400), 0x400, 0x3000 - 0x400);

  scratch_dir dir;
  ASSERT_FALSE(dir.path().empty());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.write("case.exe", c.file);
    expect_record(compute(path), c.file, c.text_offset, c.text_count);
  }
}

}  // namespace
