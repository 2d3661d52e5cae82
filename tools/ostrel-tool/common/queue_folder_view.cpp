// The queue folder through the library's own loader, so that the tool calls
// sound exactly what a restarting server would send, and counts only what it
// would read.
#include "common/queue_folder_view.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <system_error>
#include <utility>

#include "common/path_text.h"
#include "snapshot/queue_file.h"
#include "snapshot/queue_folder.h"

namespace tool {
namespace {

namespace fs = std::filesystem;

bool ends_with(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
  return text;
}

// A name the code page cannot spell is shown with "?" for what it lacks; the
// library could not have written it, so it is never a queue file.
std::string shown_name(const fs::path& name) {
  const std::string text = path_text(name);
  if (!text.empty()) return text;
  std::string shown;
  for (const wchar_t c : name.wstring())
    shown.push_back(c > 0 && c < 0x7f ? static_cast<char>(c) : '?');
  return shown;
}

// The file's head and body as the loader reads them into buffer (one byte
// more than the largest sound file, so that a longer one shows).
queued_file examine(const fs::path& path, const std::string& name, std::vector<uint8_t>& buffer,
                    const uint8_t** body) {
  queued_file f;
  f.name = name;
  *body = nullptr;
  std::error_code ec;
  const uintmax_t size = fs::file_size(path, ec);
  f.size = ec ? 0 : static_cast<uint64_t>(size);
  const std::string lowered = lower(name);
  // The library sets a file aside under its own name and ".bad".
  if (ends_with(lowered, ".bad") && queue_file_name(name.substr(0, name.size() - 4))) {
    f.state = "set aside";
    return f;
  }
  if (ends_with(lowered, ".tmp")) {
    f.state = "temporary";
    return f;
  }
  if (!queue_file_name(name)) {
    f.state = "other";
    return f;
  }
  std::ifstream in(path, std::ios::binary);
  buffer.resize(snapshot::qf_body + snapshot::queue_file_max_body + 1);
  in.read(reinterpret_cast<char*>(buffer.data()), static_cast<std::streamsize>(buffer.size()));
  if (!in && !in.eof()) {
    f.state = "unreadable";
    return f;
  }
  const size_t got = static_cast<size_t>(in.gcount());
  snapshot::queue_file_view view;
  const snapshot::queue_file_fault fault = snapshot::parse_queue_file(buffer.data(), got, &view);
  if (fault != snapshot::queue_file_fault::none) {
    f.state = snapshot::queue_file_fault_text(fault);
    return f;
  }
  f.state = "queued";
  f.sound = true;
  f.sequence = view.sequence;
  f.submitted = view.submitted;
  f.body_length = view.body_length;
  *body = view.body;
  return f;
}

}  // namespace

bool queue_file_name(const std::string& name) {
  char expected[sizeof "queued-00.hsq"];
  const std::string lowered = lower(name);
  for (int number = 0; number < snapshot::queue_file_count; ++number) {
    std::snprintf(expected, sizeof expected, "queued-%02d.hsq", number);
    if (lowered == expected) return true;
  }
  return false;
}

bool list_queue_folder(const std::string& folder, queue_listing& out, std::string& error) {
  std::error_code ec;
  fs::path where = text_path(folder);
  if (fs::is_directory(where / snapshot::queue_folder_name, ec))
    where /= snapshot::queue_folder_name;
  const std::string where_text = path_text(where);
  out.folder = where_text.empty() ? folder : where_text;
  out.files.clear();
  fs::directory_iterator it(where, ec);
  for (fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
    std::error_code type_error;
    if (it->is_regular_file(type_error))
      out.files.emplace_back(shown_name(it->path().filename()), it->path());
  }
  if (ec) {
    error = out.folder + ": cannot list the folder (" + ec.message() + ")";
    return false;
  }
  std::sort(out.files.begin(), out.files.end());
  return true;
}

void read_queue_files(const queue_listing& listing, const queued_each& each) {
  std::vector<uint8_t> buffer;
  for (const auto& [name, path] : listing.files) {
    const uint8_t* body = nullptr;
    const queued_file f = examine(path, name, buffer, &body);
    each(f, body);
  }
}

}  // namespace tool
