#include "line.h"

#include <algorithm>
#include <utility>

#include "draw.h"
#include "resultset.h"

Line::Line(std::vector<double> points, std::string name)
    : points(std::move(points)), name(std::move(name)) {}

bool Line::operator<(const Line& other) const {
  // std::lexicographical_compare uses the doubles' own '<', so a NaN never
  // compares less; the ordering stays a strict weak order only without
  // NaNs, which percentages of a positive group size never are.
  return std::lexicographical_compare(points.begin(), points.end(),
                                      other.points.begin(), other.points.end());
}

std::vector<Line> sortLines(std::vector<Line> lines) {
  std::vector<Line> candidates;
  for (size_t n = 0; n < lines.size(); ++n) {
    const std::vector<double>& points = lines[n].points;
    if (points.empty() || points.back() != kCompleteValue) {
      candidates.push_back(lines[n]);
    }
  }
  std::sort(candidates.begin(), candidates.end());
  return std::vector<Line>(candidates.rbegin(), candidates.rend());
}

bool isValid(const std::vector<Line>& lines, int line, int point) {
  double val = lines[line].points[point];
  for (size_t n = 0; n < lines.size(); ++n) {
    if (static_cast<int>(n) == line) continue;
    if (resultset::abs(lines[n].points[point] - val) <= kLabelClearance)
      return false;
  }
  return true;
}

void writeLabels(std::ostream& out, const std::vector<Line>& lines) {
  std::vector<Line> slines = sortLines(lines);
  double upper = kInitialCeiling;
  for (size_t n = 0; n < slines.size(); ++n) {
    const std::vector<double>& points = slines[n].points;
    for (size_t j = 0; j < points.size(); ++j) {
      if (!(points[j] < upper)) continue;
      if (!isValid(slines, static_cast<int>(n), static_cast<int>(j))) continue;
      out << j << " " << points[j] << " (" << escapePsString(slines[n].name)
          << ") drawLabel\n";
      upper = points[j] - kCeilingStep;
      break;
    }
  }
}
