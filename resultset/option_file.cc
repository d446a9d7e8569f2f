#include "option_file.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <utility>

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

// One setting line: its normalised name and its value.
typedef std::pair<std::string, std::string> Setting;

// The setting lines of groups in the option file at path, in order; none
// when the file cannot be read or a setting stands before the first group
// (the library then ignores the file). !include lines are not followed.
std::vector<Setting> settingsOf(const std::string& path,
                                const std::vector<std::string>& groups) {
  std::ifstream file(path);
  std::vector<Setting> settings;
  std::string line;
  bool anyGroup = false, inGroup = false;
  while (std::getline(file, line)) {
    line = trimmed(line);
    if (line.empty() || line[0] == '#' || line[0] == ';' || line[0] == '!') {
      continue;
    }
    if (line[0] == '[') {
      const size_t end = line.find(']');
      if (end == std::string::npos) return {};
      const std::string group = trimmed(line.substr(1, end - 1));
      inGroup = std::find(groups.begin(), groups.end(), group) != groups.end();
      anyGroup = true;
    } else if (!anyGroup) {
      return {};
    } else if (inGroup) {
      const size_t equals = line.find('=');
      settings.emplace_back(normalised(trimmed(line.substr(0, equals))),
                            equals == std::string::npos
                                ? ""
                                : unquoted(trimmed(line.substr(equals + 1))));
    }
  }
  return settings;
}

std::string upperCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(c));
  return text;
}

// Whether a setting line turns TLS on (true) or off (false); none of
// the names of that: unchanged.
void applyTlsSetting(const Setting& setting, bool& on) {
  const std::string value = upperCase(setting.second);
  const bool yes = value.empty() || (value != "0" && value != "OFF" &&
                                     value != "FALSE" && value != "NO");
  if (setting.first == "ssl-mode") {
    on = value != "DISABLED";
  } else if (setting.first == "ssl") {
    on = yes;
  } else if (setting.first == "skip-ssl" || setting.first == "disable-ssl") {
    on = !yes;
  }
}

}  // namespace

std::string optionFileValue(const std::string& path,
                            const std::vector<std::string>& groups,
                            const std::string& key) {
  std::string value;
  for (const Setting& setting : settingsOf(path, groups)) {
    if (setting.first == normalised(key)) value = setting.second;
  }
  return value;
}

bool optionFileTurnsTlsOff(const std::string& path,
                           const std::vector<std::string>& groups) {
  bool on = true;
  for (const Setting& setting : settingsOf(path, groups)) {
    applyTlsSetting(setting, on);
  }
  return !on;
}
