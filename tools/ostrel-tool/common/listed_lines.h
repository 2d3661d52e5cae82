// The operator's text lists (a table of names and addresses, a list of
// servers): one entry per line, words separated by white space, blank lines
// and "#" comments skipped.
#pragma once
#include <sstream>
#include <string>
#include <vector>

namespace tool {

// Calls each(where, words) for every line that says something, where being
// "<kind> line N: " for its refusals; stops at the first call returning false
// and returns false then.
template <typename Each>
bool for_each_listed_line(const std::string& text, const char* kind, Each each) {
  std::istringstream lines(text);
  std::string line;
  int number = 0;
  while (std::getline(lines, line)) {
    ++number;
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    if (words.empty() || words[0][0] == '#') continue;
    if (!each(std::string(kind) + " line " + std::to_string(number) + ": ", words)) return false;
  }
  return true;
}

}  // namespace tool
