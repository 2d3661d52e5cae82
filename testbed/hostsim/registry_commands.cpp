// hostsim commands for registry values, the launcher role and per-user files:
//   reg_set <hkcu|hklm> <type> <name> <value>   type: dword (decimal or 0x..),
//       sz and expand_sz (rest of the line, "-" for empty), multi_sz (parts
//       split at '|'), binary (hex), or a type number with hex bytes
//   reg_delete <hkcu|hklm> <name>      reg_delete_key <hkcu|hklm>
//   launcher <mode> [value-hex]   client_opmode = mode and a hand-over record
//       naming this process; answers "ok <pid> <record-hex>"
//   appdata                       the roaming application-data folder
//   exists <path>                 "ok file", "ok folder" or "ok none"
#include <windows.h>
#include <psapi.h>
#include <shlobj.h>
#include <wincrypt.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "commands.h"
#include "hex.h"

namespace {

const char product_key[] = "Software\\Ostrel Systems\\Ostrel Client";

bool parse_root(const std::string& word, HKEY& root) {
  if (word == "hkcu") root = HKEY_CURRENT_USER;
  else if (word == "hklm") root = HKEY_LOCAL_MACHINE;
  else return false;
  return true;
}

std::string rest_of_line(std::istringstream& in) {
  std::string rest;
  std::getline(in >> std::ws, rest);
  return rest == "-" ? std::string() : rest;
}

std::string set_value(HKEY root, const std::string& name, DWORD type,
                      const std::vector<unsigned char>& data) {
  HKEY key = nullptr;
  LONG rc = RegCreateKeyA(root, product_key, &key);
  if (rc != ERROR_SUCCESS) return "err " + std::to_string(rc);
  rc = RegSetValueExA(key, name.c_str(), 0, type, data.empty() ? nullptr : data.data(),
                      static_cast<DWORD>(data.size()));
  RegCloseKey(key);
  return rc == ERROR_SUCCESS ? "ok" : "err " + std::to_string(rc);
}

// A whole word as a number (decimal, or hexadecimal after "0x"); a typing
// slip must not quietly store some other value or type.
bool parse_number(const std::string& word, unsigned long& out) {
  if (word.empty()) return false;
  char* end = nullptr;
  out = std::strtoul(word.c_str(), &end, 0);
  return *end == '\0';
}

std::string reg_set(std::istringstream& in) {
  std::string root_word, type_word, name;
  HKEY root;
  if (!(in >> root_word >> type_word >> name) || !parse_root(root_word, root))
    return "err bad-arguments";
  std::vector<unsigned char> data;
  DWORD type = 0;
  if (type_word == "dword") {
    std::string number;
    unsigned long v = 0;
    if (!(in >> number) || !parse_number(number, v)) return "err bad-number";
    for (int i = 0; i < 4; ++i) data.push_back(static_cast<unsigned char>(v >> (8 * i)));
    type = REG_DWORD;
  } else if (type_word == "sz" || type_word == "expand_sz" || type_word == "multi_sz") {
    std::string text = rest_of_line(in);
    type = type_word == "sz" ? REG_SZ : type_word == "expand_sz" ? REG_EXPAND_SZ : REG_MULTI_SZ;
    if (type == REG_MULTI_SZ)
      for (char& c : text)
        if (c == '|') c = '\0';
    data.assign(text.begin(), text.end());
    data.push_back(0);
    if (type == REG_MULTI_SZ) data.push_back(0);
  } else {
    std::string hex;
    in >> hex;
    if (!hex_decode(hex, data)) return "err bad-hex";
    unsigned long number = REG_BINARY;
    if (type_word != "binary" && !parse_number(type_word, number)) return "err bad-type";
    type = static_cast<DWORD>(number);
  }
  return set_value(root, name, type, data);
}

std::string reg_delete(std::istringstream& in, bool whole_key) {
  std::string root_word, name;
  HKEY root;
  if (!(in >> root_word) || !parse_root(root_word, root)) return "err bad-arguments";
  if (whole_key) {
    LONG rc = RegDeleteKeyA(root, product_key);
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND ? "ok" : "err " + std::to_string(rc);
  }
  in >> name;
  HKEY key = nullptr;
  if (RegOpenKeyA(root, product_key, &key) != ERROR_SUCCESS) return "ok";
  LONG rc = RegDeleteValueA(key, name.c_str());
  RegCloseKey(key);
  return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND ? "ok" : "err " + std::to_string(rc);
}

bool md5(const std::vector<unsigned char>& input, unsigned char out[16]) {
  HCRYPTPROV provider = 0;
  HCRYPTHASH hash = 0;
  DWORD size = 16;
  bool ok = CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) &&
            CryptCreateHash(provider, CALG_MD5, 0, 0, &hash) &&
            CryptHashData(hash, input.data(), static_cast<DWORD>(input.size()), 0) &&
            CryptGetHashParam(hash, HP_HASHVAL, out, &size, 0) && size == 16;
  if (hash) CryptDestroyHash(hash);
  if (provider) CryptReleaseContext(provider, 0);
  return ok;
}

// The companion launcher's side of the hand-over: a record naming this very
// process, tagged over its own image file name as the system reports it.
std::string launcher(std::istringstream& in) {
  unsigned long mode = 0;
  std::string value_hex = "0001020304050607";
  if (!(in >> mode)) return "err bad-arguments";
  in >> value_hex;
  std::vector<unsigned char> value;
  if (!hex_decode(value_hex, value) || value.size() != 8) return "err bad-value";

  char image[MAX_PATH] = {};
  if (!GetProcessImageFileNameA(GetCurrentProcess(), image, MAX_PATH)) return "err image-name";
  image[MAX_PATH - 1] = '\0';
  for (char* p = image; *p; ++p)
    if (*p >= 'A' && *p <= 'Z') *p = static_cast<char>(*p + ('a' - 'A'));

  DWORD pid = GetCurrentProcessId();
  std::vector<unsigned char> record = {'H', 'P', 'V', '1'};
  for (int i = 0; i < 4; ++i) record.push_back(static_cast<unsigned char>(pid >> (8 * i)));
  record.insert(record.end(), value.begin(), value.end());
  std::vector<unsigned char> tagged(value.begin(), value.end());
  tagged.insert(tagged.end(), record.begin() + 4, record.begin() + 8);
  tagged.insert(tagged.end(), image, image + std::strlen(image));
  unsigned char tag[16];
  if (!md5(tagged, tag)) return "err md5";
  record.insert(record.end(), tag, tag + 16);

  std::vector<unsigned char> mode_bytes;
  for (int i = 0; i < 4; ++i) mode_bytes.push_back(static_cast<unsigned char>(mode >> (8 * i)));
  std::string rc = set_value(HKEY_CURRENT_USER, "client_opmode", REG_DWORD, mode_bytes);
  if (rc != "ok") return rc;
  rc = set_value(HKEY_CURRENT_USER, "client_opvdata", REG_BINARY, record);
  if (rc != "ok") return rc;
  return "ok " + std::to_string(pid) + " " + hex_encode(record.data(), record.size());
}

std::string appdata() {
  char path[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, 0, path))) return "err appdata";
  return std::string("ok ") + path;
}

std::string exists(std::istringstream& in) {
  std::string path = rest_of_line(in);
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return "ok none";
  return attributes & FILE_ATTRIBUTE_DIRECTORY ? "ok folder" : "ok file";
}

}  // namespace

bool run_registry_command(const std::string& cmd, std::istringstream& in, std::string& answer) {
  if (cmd == "reg_set") answer = reg_set(in);
  else if (cmd == "reg_delete") answer = reg_delete(in, false);
  else if (cmd == "reg_delete_key") answer = reg_delete(in, true);
  else if (cmd == "launcher") answer = launcher(in);
  else if (cmd == "appdata") answer = appdata();
  else if (cmd == "exists") answer = exists(in);
  else return false;
  return true;
}
