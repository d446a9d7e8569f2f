#include "sums_checks.h"

#include <regex>

namespace {

// The marker procedures the prologue defines.
const char* const kGlyphNames[] = {
    "circle",      "cross",       "plus",         "square",
    "diamond",     "asterisk",    "underscore",   "triangle",
    "smallcircle", "smallsquare", "smalldiamond", "smallasterisk"};

std::string trimSpacesAndTabs(const std::string& text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

}  // namespace

bool isGlyphName(const std::string& symbol) {
  for (const char* name : kGlyphNames) {
    if (symbol == name) return true;
  }
  return false;
}

bool isColourComponent(const std::string& component) {
  static const std::regex kNumber(
      "[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][+-]?[0-9]+)?");
  return std::regex_match(trimSpacesAndTabs(component), kNumber);
}

bool isSafeColumnName(const std::string& outputfield) {
  for (unsigned char c : outputfield) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                 (c >= '0' && c <= '9') || c == '_' || c == '$';
    if (!plain && c < 0x80) return false;
  }
  return true;
}
