#include "option_file.h"

#include <algorithm>
#include <fstream>

namespace {

std::string trimmed(const std::string& text) {
  const char* kSpace = " \t\r\n\f\v";
  const size_t begin = text.find_first_not_of(kSpace);
  if (begin == std::string::npos) return "";
  return text.substr(begin, text.find_last_not_of(kSpace) - begin + 1);
}

// The name as the library compares it: dashes for underscores.
std::string normalised(std::string name) {
  std::replace(name.begin(), name.end(), '_', '-');
  return name;
}

// The value without one opening and one closing quote, as the library
// takes it.
std::string unquoted(std::string value) {
  if (!value.empty() && (value.front() == '"' || value.front() == '\'')) {
    value.erase(0, 1);
    if (!value.empty() && (value.back() == '"' || value.back() == '\'')) {
      value.pop_back();
    }
  }
  return value;
}

}  // namespace

std::string optionFileValue(const std::string& path,
                            const std::vector<std::string>& groups,
                            const std::string& key) {
  std::ifstream file(path);
  std::string line, value;
  bool anyGroup = false, inGroup = false;
  while (std::getline(file, line)) {
    line = trimmed(line);
    if (line.empty() || line[0] == '#' || line[0] == ';' || line[0] == '!') {
      continue;
    }
    if (line[0] == '[') {
      const size_t end = line.find(']');
      if (end == std::string::npos) return "";
      const std::string group = trimmed(line.substr(1, end - 1));
      inGroup = std::find(groups.begin(), groups.end(), group) != groups.end();
      anyGroup = true;
    } else if (!anyGroup) {
      return "";
    } else if (inGroup) {
      const size_t equals = line.find('=');
      if (normalised(trimmed(line.substr(0, equals))) != normalised(key)) {
        continue;
      }
      value = equals == std::string::npos
                  ? ""
                  : unquoted(trimmed(line.substr(equals + 1)));
    }
  }
  return value;
}
