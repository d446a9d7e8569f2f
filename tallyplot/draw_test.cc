// Tests of the per-series body writers and the escaping of the texts they
// write.
#include "draw.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

TEST(EscapePsStringTest, OnlyBackslashAndParenthesesChange) {
  struct Case {
    const char* name;
    std::string text;
    std::string escaped;
  };
  const std::vector<Case> cases = {
      {"empty", "", ""},
      {"plain", "Crew Time", "Crew Time"},
      {"balanced", "Power (W)", "Power \\(W\\)"},
      {"open only", "a(", "a\\("},
      {"close only", ")b", "\\)b"},
      {"backslash", "a\\b", "a\\\\b"},
      {"trailing backslash", "x\\", "x\\\\"},
      {"escape-looking", "\\(", "\\\\\\("},
      {"percent, tab, newline and high bytes kept", "50% \t\n\xc3\xa9",
       "50% \t\n\xc3\xa9"},
      {"brackets and braces kept", "[a]{b}<c>", "[a]{b}<c>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(escapePsString(c.text), c.escaped);
  }
}

std::string lineText(const std::string& color, const std::string& glyph,
                     const std::vector<double>& data) {
  std::ostringstream out;
  drawLine(out, color, glyph, data);
  return out.str();
}

TEST(DrawLineTest, Cases) {
  struct Case {
    const char* name;
    std::string color;
    std::string glyph;
    std::vector<double> data;
    std::string written;
  };
  const std::vector<Case> cases = {
      {"worked example",
       "1 0 0",
       "circle",
       {100, 96.5, 33.333333},
       "1 0 0 setrgbcolor (circle) 0 [ 100 96.5 33.3333  ] drawLine\n\n"},
      {"no values",
       "0 0 1",
       "plus",
       {},
       "0 0 1 setrgbcolor (plus) 0 [  ] "
       "drawLine\n\n"},
      {"one value",
       "1 0 1",
       "smallsquare",
       {50},
       "1 0 1 setrgbcolor (smallsquare) 0 [ 50  ] drawLine\n\n"},
      {"colour kept verbatim",
       "0.773 1520.596 0.886",
       "circle",
       {0, 100},
       "0.773 1520.596 0.886 setrgbcolor (circle) 0 [ 0 100  ] "
       "drawLine\n\n"},
      {"unclamped and tiny values",
       "1 0.5 0",
       "cross",
       {-150, 0.00001, 250},
       "1 0.5 0 setrgbcolor (cross) 0 [ -150 1e-05 250  ] drawLine\n\n"},
      {"glyph escaped",
       "0 0 0",
       "a(b)\\",
       {1},
       "0 0 0 setrgbcolor (a\\(b\\)\\\\) 0 [ 1  ] drawLine\n\n"},
      {"unbalanced glyph escaped",
       "0 0 0",
       ") cvx exec (",
       {1},
       "0 0 0 setrgbcolor (\\) cvx exec \\() 0 [ 1  ] drawLine\n\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(lineText(c.color, c.glyph, c.data), c.written);
  }
}

std::string rowText(int row, const std::vector<double>& data) {
  std::ostringstream out;
  drawRow(out, row, data);
  return out.str();
}

TEST(DrawRowTest, Cases) {
  struct Case {
    const char* name;
    int row;
    std::vector<double> data;
    std::string written;
  };
  const std::string head = "0.5 inch TEXTCELL add 7 inch ";
  const std::string mid = " FONTSIZE mul sub NUMBERCELL\n";
  const std::vector<Case> cases = {
      {"worked example",
       2,
       {100, 96.5},
       head + "3" + mid + "[ (100) (96.5) ]\ntableRow\n\n"},
      {"top row",
       0,
       {33.333333},
       head + "1" + mid +
           "[ (33.3333) ]\n"
           "tableRow\n\n"},
      {"no values", 4, {}, head + "5" + mid + "[ ]\ntableRow\n\n"},
      {"row after the fixed ones",
       15,
       {66.666666, 0.00001, -25},
       head + "16" + mid + "[ (66.6667) (1e-05) (-25) ]\ntableRow\n\n"},
      {"negative row written as is",
       -2,
       {1},
       head + "-1" + mid + "[ (1) ]\ntableRow\n\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(rowText(c.row, c.data), c.written);
  }
}

// The writers must leave the stream's formatting alone for later writers.
TEST(DrawLineTest, StreamFormattingUnchanged) {
  std::ostringstream out;
  drawLine(out, "1 0 0", "circle", {1.0 / 3.0});
  drawRow(out, 0, {1.0 / 3.0});
  out << 2.0 / 3.0;
  const std::string text = out.str();
  EXPECT_EQ(text.substr(text.size() - 8), "0.666667");
}

}  // namespace
