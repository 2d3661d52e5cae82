// The queue folder through the library's own loader, so that the tool calls
// sound exactly what a restarting server would send.
#include "queue_folder_view.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "snapshot/queue_file.h"
#include "snapshot/queue_folder.h"

namespace tool {
namespace {

bool ends_with(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

queued_file examine(const std::filesystem::path& path) {
  queued_file f;
  f.name = path.filename().string();
  std::error_code ec;
  f.size = std::filesystem::file_size(path, ec);
  if (ends_with(f.name, ".bad")) {
    f.state = "set aside";
    return f;
  }
  if (ends_with(f.name, ".tmp")) {
    f.state = "temporary";
    return f;
  }
  if (!ends_with(f.name, ".hsq")) {
    f.state = "other";
    return f;
  }
  // One byte more than the largest sound file, so that a longer one shows.
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> bytes(snapshot::qf_body + snapshot::queue_file_max_body + 1);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!in && !in.eof()) {
    f.state = "unreadable";
    return f;
  }
  bytes.resize(static_cast<size_t>(in.gcount()));
  snapshot::queue_file_view view;
  const snapshot::queue_file_fault fault = snapshot::parse_queue_file(bytes.data(), bytes.size(), &view);
  if (fault != snapshot::queue_file_fault::none) {
    f.state = snapshot::queue_file_fault_text(fault);
    return f;
  }
  f.state = "queued";
  f.sound = true;
  f.sequence = view.sequence;
  f.submitted = view.submitted;
  f.body_length = view.body_length;
  f.body.assign(view.body, view.body + view.body_length);
  return f;
}

}  // namespace

bool read_queue_folder(const std::string& folder, std::string& queue_folder,
                       std::vector<queued_file>& out, std::string& error) {
  std::error_code ec;
  std::filesystem::path where = folder;
  if (std::filesystem::is_directory(where / snapshot::queue_folder_name, ec))
    where /= snapshot::queue_folder_name;
  queue_folder = where.string();
  out.clear();
  std::filesystem::directory_iterator it(where, ec);
  if (ec) {
    error = queue_folder + ": cannot list the folder (" + ec.message() + ")";
    return false;
  }
  for (const auto& entry : it)
    if (entry.is_regular_file(ec)) out.push_back(examine(entry.path()));
  std::sort(out.begin(), out.end(),
            [](const queued_file& a, const queued_file& b) { return a.name < b.name; });
  return true;
}

}  // namespace tool
