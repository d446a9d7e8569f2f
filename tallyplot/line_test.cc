// Tests of the series ordering and of where name labels are placed.
#include "line.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

std::vector<std::string> namesOf(const std::vector<Line>& lines) {
  std::vector<std::string> names;
  for (const Line& line : lines) names.push_back(line.name);
  return names;
}

std::string labels(const std::vector<Line>& lines) {
  std::ostringstream out;
  writeLabels(out, lines);
  return out.str();
}

// The label order: points compared from the first, the name playing no
// part.
TEST(LineTest, OrderIsLexicographicOverPoints) {
  struct Case {
    const char* name;
    std::vector<double> a;
    std::vector<double> b;
    bool less;
  };
  const std::vector<Case> cases = {
      {"first point decides", {1, 9}, {2, 0}, true},
      {"tie broken by second", {5, 1}, {5, 2}, true},
      {"equal points, other names", {5, 6}, {5, 6}, false},
      {"shorter prefix is less", {5}, {5, 6}, true},
      {"longer is not less", {5, 6}, {5}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Line(c.a, "zzz") < Line(c.b, "aaa"), c.less);
  }
}

TEST(SortLinesTest, DescendingWithoutSeriesEndingAt100) {
  const std::vector<Line> lines = {
      Line({100, 90, 80}, "Alpha"), Line({100, 95, 60}, "Beta"),
      Line({99, 97, 96}, "Gamma"),  Line({100, 100, 100}, "Delta"),
      Line({0, 50, 100}, "Up"),     Line({100, 95, 61}, "Beta2"),
  };
  const std::vector<Line> sorted = sortLines(lines);
  EXPECT_EQ(namesOf(sorted),
            (std::vector<std::string>{"Beta2", "Beta", "Alpha", "Gamma"}));
  EXPECT_EQ(namesOf(lines), (std::vector<std::string>{"Alpha", "Beta", "Gamma",
                                                      "Delta", "Up", "Beta2"}));
  EXPECT_EQ(sorted[1].points, (std::vector<double>{100, 95, 60}));
}

TEST(SortLinesTest, OnlyExactly100AtTheEndIsLeftOut) {
  struct Case {
    const char* name;
    std::vector<double> points;
    bool kept;
  };
  const std::vector<Case> cases = {
      {"ends at 100", {10, 100}, false},
      {"single point 100", {100}, false},
      {"ends just above", {10, 100.0000001}, true},
      {"ends just below", {10, 99.9999999}, true},
      {"100 elsewhere", {100, 100, 99}, true},
      {"ends above the grid", {100, 150}, true},
      {"ends at not a number", {100, kNaN}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(sortLines({Line(c.points, "x")}).size(), c.kept ? 1u : 0u);
  }
  EXPECT_TRUE(sortLines({}).empty());
}

TEST(SortLinesTest, NotANumberRanksLowest) {
  const std::vector<Line> lines = {
      Line({kNaN, 50}, "n1"), Line({60, 40}, "a"), Line({kNaN, kNaN}, "n2"),
      Line({70, kNaN}, "n3"), Line({80, 20}, "b"), Line({kNaN, 10}, "n4"),
  };
  // A value that is not a number ranks below every number, so such series
  // come after the others at the first index where they differ.
  std::vector<std::string> names;
  for (const Line& line : sortLines(lines)) names.push_back(line.name);
  EXPECT_EQ(names,
            (std::vector<std::string>{"b", "n3", "a", "n1", "n4", "n2"}));
}

TEST(IsValidTest, ClearanceIsInclusive) {
  struct Case {
    const char* name;
    std::vector<std::vector<double>> points;
    int line;
    int point;
    bool clear;
  };
  const std::vector<Case> cases = {
      {"alone", {{50}}, 0, 0, true},
      {"exactly 1.5 above", {{50}, {51.5}}, 0, 0, false},
      {"exactly 1.5 below", {{50}, {48.5}}, 0, 0, false},
      {"just over 1.5", {{50}, {51.5000001}}, 0, 0, true},
      {"identical", {{50}, {50}}, 1, 0, false},
      {"other index is what counts", {{1, 50}, {1, 80}}, 0, 1, true},
      {"other index blocked", {{1, 50}, {1, 80}}, 1, 0, false},
      {"far from both others", {{50}, {80}, {49}}, 1, 0, true},
      {"third series blocks the first", {{50}, {80}, {49}}, 0, 0, false},
      {"not a number never blocks", {{50}, {kNaN}}, 0, 0, true},
      {"own not a number is clear", {{kNaN}, {50}}, 0, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Line> lines;
    for (const auto& p : c.points) lines.emplace_back(p, "s");
    EXPECT_EQ(isValid(lines, c.line, c.point), c.clear);
  }
}

TEST(WriteLabelsTest, WorkedExample) {
  const std::vector<Line> lines = {
      Line({100, 90, 80}, "Alpha"),
      Line({100, 95, 60}, "Beta"),
      Line({99, 97, 96}, "Gamma"),
      Line({100, 100, 100}, "Delta"),
  };
  EXPECT_EQ(labels(lines), "1 95 (Beta) drawLabel\n1 90 (Alpha) drawLabel\n");
}

TEST(WriteLabelsTest, WorkedExampleVariant) {
  const std::vector<Line> lines = {
      Line({100, 90, 80}, "Alpha"),
      Line({100, 95, 60}, "Beta"),
      Line({99, 94, 96}, "Gamma"),
      Line({100, 100, 100}, "Delta"),
  };
  EXPECT_EQ(labels(lines), "2 60 (Beta) drawLabel\n");
}

TEST(WriteLabelsTest, EdgeCases) {
  struct Case {
    const char* name;
    std::vector<Line> lines;
    std::string written;
  };
  const std::vector<Case> cases = {
      {"no series", {}, ""},
      {"all end at 100",
       {Line({10, 100}, "a"), Line({50, 100}, "b"), Line({100}, "c")},
       ""},
      {"single candidate at its first point below 98.5",
       {Line({99, 98.4, 10}, "S")},
       "1 98.4 (S) drawLabel\n"},
      {"single candidate never below 98.5", {Line({99, 98.5, 120}, "S")}, ""},
      {"point equal to the ceiling skipped",
       {Line({100, 98.5, 97}, "S")},
       "2 97 (S) drawLabel\n"},
      {"difference of exactly 1.5 blocks",
       {Line({100, 93.5, 80}, "B"), Line({100, 95, 50}, "A")},
       "2 50 (A) drawLabel\n"},
      {"difference just over 1.5, then strictly below the ceiling",
       {Line({100, 93.4, 80}, "B"), Line({100, 95, 50}, "A")},
       "1 95 (A) drawLabel\n1 93.4 (B) drawLabel\n"},
      {"point equal to the lowered ceiling skipped",
       {Line({99, 99, 93.5, 20}, "B"), Line({100, 95, 50, 50}, "A")},
       "1 95 (A) drawLabel\n3 20 (B) drawLabel\n"},
      {"identical series never labelled",
       {Line({90, 80, 70}, "x"), Line({90, 80, 70}, "y")},
       ""},
      {"left-out series does not block",
       {Line({100, 90, 80}, "A"), Line({100, 90.5, 100}, "Left")},
       "1 90 (A) drawLabel\n"},
      {"100.0000001 at the end is a candidate",
       {Line({100, 50, 100.0000001}, "X")},
       "1 50 (X) drawLabel\n"},
      {"100.0000001 candidate blocks another",
       {Line({100, 50, 100.0000001}, "X"), Line({100, 51, 20}, "Y")},
       "2 20 (Y) drawLabel\n"},
      {"close neighbours block each other everywhere",
       {Line({90, 90, 90}, "High"), Line({89, 89, 89}, "Near"),
        Line({10, 10, 10}, "Low")},
       "0 10 (Low) drawLabel\n"},
      {"staircase leaves a later series far from all without a label",
       {Line({90, 80, 70}, "Later"), Line({100, 50, 50}, "First")},
       "1 50 (First) drawLabel\n"},
      {"formatting of the value",
       {Line({100, 200.0 / 3.0}, "Third")},
       "1 66.6667 (Third) drawLabel\n"},
      {"negative value",
       {Line({100, -150}, "Neg")},
       "1 -150 (Neg) drawLabel\n"},
      {"label text escaped",
       {Line({100, 40}, "Odd (one"), Line({100, 80}, "a)\\b(c)")},
       "1 80 (a\\)\\\\b\\(c\\)) drawLabel\n1 40 (Odd \\(one) drawLabel\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(labels(c.lines), c.written);
  }
}

// Labels follow the descending order and each lies more than 1.5 below the
// previous one.
TEST(WriteLabelsTest, StaircaseDescends) {
  std::vector<Line> lines;
  for (int k = 0; k < 12; ++k) {
    lines.emplace_back(std::vector<double>{100, 97.0 - 3.0 * k, 5.0 + k},
                       "s" + std::to_string(k));
  }
  std::string expected;
  for (int k = 0; k < 12; ++k) {
    std::ostringstream line;
    line << "1 " << 97.0 - 3.0 * k << " (s" << k << ") drawLabel\n";
    expected += line.str();
  }
  EXPECT_EQ(labels(lines), expected);
}

}  // namespace
