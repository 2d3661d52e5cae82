// Reads the operator's list of ranked servers.
#include "operator/server_list.h"

#include "common/listed_lines.h"
#include "common/text_input.h"
#include "ranked/ranked_blob.h"

namespace tool {
namespace {

// A decimal number of at most digits digits from 0 to max, or -1.
long small_number(const std::string& text, size_t digits, long max) {
  if (text.empty() || text.size() > digits || text.find_first_not_of("0123456789") != std::string::npos)
    return -1;
  const long value = std::stol(text);
  return value <= max ? value : -1;
}

}  // namespace

bool parse_server_list(const std::string& text, uint16_t default_port,
                       std::vector<service::ranked_server>& out, std::string& error) {
  out.clear();
  if (default_port == 0) {
    error = "the default port is a port from 1 to 65535, not 0";
    return false;
  }
  return for_each_listed_line(text, "list", [&](const std::string& where,
                                                  const std::vector<std::string>& words) {
    const std::string& server = words[0];
    service::ranked_server s;
    s.port = default_port;
    const size_t colon = server.find(':');
    if (!parse_ipv4(server.substr(0, colon), &s.address)) {
      error = where + "\"" + server + "\" is not ADDRESS[:PORT]";
      return false;
    }
    if (colon != std::string::npos) {
      const std::string port = server.substr(colon + 1);
      const long value = small_number(port, 5, 65535);
      if (value <= 0) {
        error = where + "\"" + port + "\" is not a port";
        return false;
      }
      s.port = static_cast<uint16_t>(value);
    }
    if (words.size() > 1) {
      const long value = small_number(words[1], 2, 63);
      if (value < 0) {
        error = where + "flags are a number from 0 to 63, not \"" + words[1] + "\"";
        return false;
      }
      s.flags = static_cast<uint8_t>(value);
    }
    // A server off the default port carries its flags alone in its record's
    // first byte, and a 0 byte there ends the list: every server after it
    // would be lost.
    if (s.flags == 0 && s.port != default_port) {
      error = where + "flags 0 only for a server on the default port (" + std::to_string(default_port) +
              "): a server with its own port needs flags from 1 to 63";
      return false;
    }
    if (words.size() > 2) {
      error = where + "more than ADDRESS[:PORT] [FLAGS]";
      return false;
    }
    if (out.size() == ranked::ranked_max_entries) {
      error = where + "a list holds at most " + std::to_string(ranked::ranked_max_entries) + " servers";
      return false;
    }
    out.push_back(s);
    return true;
  });
}

}  // namespace tool
