// Tests of the checks applied to a sums row's glyph, colour components and
// column name before they reach the document or a query.
#include "sums_checks.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A text with the verdict a check must give on it.
struct Case {
  std::string text;
  bool accepted;
};

std::string shown(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '\t') {
      out += "\\t";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c < 0x20 || c >= 0x7f) {
      out += "\\x" + std::to_string(c);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

TEST(IsGlyphNameTest, ExactlyTheTwelveProcedures) {
  const std::vector<Case> cases = {
      {"circle", true},
      {"cross", true},
      {"plus", true},
      {"square", true},
      {"diamond", true},
      {"asterisk", true},
      {"underscore", true},
      {"triangle", true},
      {"smallcircle", true},
      {"smallsquare", true},
      {"smalldiamond", true},
      {"smallasterisk", true},
      {"", false},
      {"Circle", false},
      {"CIRCLE", false},
      {" circle", false},
      {"circle ", false},
      {"circle\n", false},
      {"circl", false},
      {"circles", false},
      {"small circle", false},
      {"smalltriangle", false},
      {"smallcross", false},
      {"smallplus", false},
      {"drawLine", false},
      {"drawGrid", false},
      {"pointX", false},
      {"showpage", false},
      {"inch", false},
      {"/circle", false},
      {"circle erasepage", false},
      {std::string("circle\0", 7), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(shown(c.text));
    EXPECT_EQ(isGlyphName(c.text), c.accepted);
  }
}

TEST(IsColourComponentTest, PlainDecimalNumbersOnly) {
  const std::vector<Case> cases = {
      {"0", true},
      {"1", true},
      {"0.5", true},
      {"0.773", true},
      {"1520.596", true},
      {".5", true},
      {"5.", true},
      {"1.", true},
      {"+.5", true},
      {"-.5", true},
      {"-0.25", true},
      {"+1", true},
      {"007", true},
      {"1e5", true},
      {"1E-2", true},
      {"5e+3", true},
      {"1.e5", true},
      {".5e-1", true},
      {" 0.5", true},
      {"0.5 ", true},
      {"\t1\t", true},
      {" \t 1 \t ", true},
      {"", false},
      {" ", false},
      {"\t", false},
      {"1e", false},
      {"1e+", false},
      {"e5", false},
      {".", false},
      {"+", false},
      {"-", false},
      {"+.", false},
      {".e1", false},
      {"++1", false},
      {"+-1", false},
      {"1.2.3", false},
      {"1e5.5", false},
      {"1e5e5", false},
      {"0x1", false},
      {"1,5", false},
      {"1 2", false},
      {"1\t2", false},
      {"abc", false},
      {"inf", false},
      {"nan", false},
      {"1\n", false},
      {"\n1", false},
      {"\r1", false},
      {"1 setrgbcolor", false},
      {"0 0 0", false},
      {std::string("1\0", 2), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(shown(c.text));
    EXPECT_EQ(isColourComponent(c.text), c.accepted);
  }
}

// Numbers a PostScript interpreter cannot hold stop the page: its reals are
// single-precision floats (at most about 3.4e38), and Ghostscript refuses
// number tokens of a few thousand characters, so 255 is the limit kept.
// Very long texts also once crashed the check itself.
TEST(IsColourComponentTest, OnlyNumbersPostScriptCanHold) {
  const std::vector<Case> cases = {
      {"3e38", true},
      {"-1e38", true},
      {"1e-300", true},
      {"0." + std::string(253, '0'), true},
      {"1e39", false},
      {"-4e38", false},
      {"1e999", false},
      {"0." + std::string(254, '0'), false},
      {std::string(30000, '1'), false},
      {"0." + std::string(100000, '5'), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(shown(c.text).substr(0, 40));
    EXPECT_EQ(isColourComponent(c.text), c.accepted);
  }
}

TEST(IsSafeColumnNameTest, LettersDigitsUnderscoreDollarAndHighBytes) {
  const std::vector<Case> cases = {
      {"", true},
      {"power", true},
      {"MTL_crewtend", true},
      {"_", true},
      {"a$b", true},
      {"$", true},
      {"9lives", true},
      {"ABCxyz0189", true},
      {"\xc3\xa9t\xc3\xa9", true},
      {"\x80", true},
      {"\xff", true},
      {" ", false},
      {"a b", false},
      {" power", false},
      {"power ", false},
      {"a`b", false},
      {"`", false},
      {"a'b", false},
      {"a\"b", false},
      {"a)b", false},
      {"a(b", false},
      {"a-b", false},
      {"a;b", false},
      {"a,b", false},
      {"a.b", false},
      {"a\\b", false},
      {"a/*b", false},
      {"a#b", false},
      {"a=b", false},
      {"a\tb", false},
      {"a\nb", false},
      {"\x7f", false},
      {std::string("a\0b", 3), false},
      {"x) from t; drop table t; -- ", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(shown(c.text));
    EXPECT_EQ(isSafeColumnName(c.text), c.accepted);
  }
}

}  // namespace
