// The ANSI code page both ways, through the wide form the file system keeps.
// WideCharToMultiByte would silently put a best-fit or default character in
// place of one the code page lacks, naming another file or none; such a name
// is refused instead ("WideCharToMultiByte function", Microsoft Learn: with
// CP_UTF8 as the ANSI code page the flags must be 0 or WC_ERR_INVALID_CHARS
// and the default-character arguments null).
#include <windows.h>

#include "common/path_text.h"

namespace tool {

std::string path_text(const std::filesystem::path& path) {
  const std::wstring& wide = path.native();
  if (wide.empty()) return "";
  const UINT page = GetACP();
  const bool utf8 = page == CP_UTF8;
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL defaulted = FALSE;
  BOOL* defaulted_out = utf8 ? nullptr : &defaulted;
  const int length = static_cast<int>(wide.size());
  const int size =
      WideCharToMultiByte(page, flags, wide.data(), length, nullptr, 0, nullptr, defaulted_out);
  if (size <= 0 || defaulted) return "";
  std::string out(static_cast<size_t>(size), '\0');
  if (WideCharToMultiByte(page, flags, wide.data(), length, &out[0], size, nullptr,
                          defaulted_out) != size ||
      defaulted)
    return "";
  return out;
}

std::filesystem::path text_path(const std::string& text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int size =
      MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
  if (size <= 0) return {};
  std::wstring wide(static_cast<size_t>(size), L'\0');
  if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), length, &wide[0], size) !=
      size)
    return {};
  return std::filesystem::path(wide);
}

}  // namespace tool
