#include "sums_checks.h"

#include <cmath>
#include <cstdlib>

namespace {

// The marker procedures the prologue defines.
const char* const kGlyphNames[] = {
    "circle",      "cross",       "plus",         "square",
    "diamond",     "asterisk",    "underscore",   "triangle",
    "smallcircle", "smallsquare", "smalldiamond", "smallasterisk"};

// PostScript interpreters hold reals as single-precision floats and refuse
// longer number tokens, so larger components would stop the page.
constexpr double kLargestColourComponent = 3.4e38;
constexpr size_t kLongestColourComponent = 255;

std::string trimSpacesAndTabs(const std::string& text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Advances pos over a run of digits; returns how many there were.
size_t skipDigits(const std::string& text, size_t& pos) {
  size_t start = pos;
  while (pos < text.size() && isDigit(text[pos])) ++pos;
  return pos - start;
}

// Whether text is [+-]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][+-]?[0-9]+)?
// A scanner rather than std::regex: libstdc++'s regex recurses per
// character and overflows the stack on long texts.
bool isDecimalNumber(const std::string& text) {
  size_t pos = 0;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) ++pos;
  size_t whole = skipDigits(text, pos);
  size_t fraction = 0;
  if (pos < text.size() && text[pos] == '.') {
    ++pos;
    fraction = skipDigits(text, pos);
  }
  if (whole == 0 && fraction == 0) return false;
  if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
    ++pos;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) ++pos;
    if (skipDigits(text, pos) == 0) return false;
  }
  return pos == text.size();
}

}  // namespace

bool isGlyphName(const std::string& symbol) {
  for (const char* name : kGlyphNames) {
    if (symbol == name) return true;
  }
  return false;
}

bool isColourComponent(const std::string& component) {
  std::string number = trimSpacesAndTabs(component);
  if (!isDecimalNumber(number)) return false;
  if (number.size() > kLongestColourComponent) return false;
  double value = std::strtod(number.c_str(), nullptr);
  return std::isfinite(value) && std::fabs(value) <= kLargestColourComponent;
}

bool isSafeColumnName(const std::string& outputfield) {
  for (unsigned char c : outputfield) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                 (c >= '0' && c <= '9') || c == '_' || c == '$';
    if (!plain && c < 0x80) return false;
  }
  return true;
}
