// Chart series values, their ordering and the placement of name labels.
#ifndef TALLYPLOT_LINE_H_
#define TALLYPLOT_LINE_H_

#include <ostream>
#include <string>
#include <vector>

// A series whose last point is exactly this is never labelled.
constexpr double kCompleteValue = 100.0;
// The label ceiling before the first label.
constexpr double kInitialCeiling = 98.5;
// Another series within this distance (inclusive) blocks a label.
constexpr double kLabelClearance = 1.5;
// After a label at v, the ceiling drops to v minus this.
constexpr double kCeilingStep = 1.5;

// One chart series: a percentage per selectednum group, and its label.
class Line {
 public:
  Line(std::vector<double> points, std::string name);
  // Lexicographic comparison of the points; the name plays no part.
  bool operator<(const Line& other) const;

  std::vector<double> points;
  std::string name;
};

// The label candidates of lines (those not ending at kCompleteValue), in
// descending order of their points; a point that is not a number ranks
// below every number.
std::vector<Line> sortLines(std::vector<Line> lines);

// Whether point `point` of lines[line] lies clear of every other series.
bool isValid(const std::vector<Line>& lines, int line, int point);

// Writes one drawLabel command per labelled series, on a descending
// staircase below kInitialCeiling.
void writeLabels(std::ostream& out, const std::vector<Line>& lines);

#endif  // TALLYPLOT_LINE_H_
