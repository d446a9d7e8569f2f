#include "number_setting.h"

#include <cstdlib>

#include "resultset.h"

namespace {

// Whether text is a whole number from lowest to highest, written in plain
// digits (no sign, no spaces); sets value when it is.
bool parseWholeNumber(const std::string& text, int lowest, int highest,
                      int& value) {
  if (text.empty() || text.size() > 9 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  const int number = std::atoi(text.c_str());
  if (number < lowest || number > highest) return false;
  value = number;
  return true;
}

}  // namespace

int numberSetting(const NumberSetting& setting, const char* fromEnvironment,
                  const std::string& fromFile, std::string& error) {
  const bool inEnvironment =
      fromEnvironment != nullptr && *fromEnvironment != '\0';
  const std::string text = inEnvironment ? fromEnvironment : fromFile;
  if (text.empty()) return setting.fallback;
  int value = setting.fallback;
  if (parseWholeNumber(text, setting.lowest, setting.highest, value)) {
    return value;
  }
  const std::string range = "a whole number from " +
                            std::to_string(setting.lowest) + " to " +
                            std::to_string(setting.highest);
  error = inEnvironment
              ? "Invalid " + std::string(setting.variable) + " \"" + text +
                    "\": set it to " + range + ", or leave it unset or empty\n"
              : "Invalid " + std::string(setting.option) + " \"" + text +
                    "\" in the [tallyplot] group of TALLYPLOT_DEFAULTS_FILE: "
                    "set it to " +
                    range + "\n";
  return setting.fallback;
}

int readNumberSetting(const NumberSetting& setting, std::string& error) {
  return numberSetting(setting, std::getenv(setting.variable),
                       ResultSet::programOption(setting.option), error);
}
