#include "line.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "draw.h"
#include "resultset.h"

Line::Line(std::vector<double> points, std::string name)
    : points(std::move(points)), name(std::move(name)) {}

bool Line::operator<(const Line& other) const {
  return std::lexicographical_compare(points.begin(), points.end(),
                                      other.points.begin(), other.points.end());
}

namespace {

// A total order on doubles: a value that is not a number comes before every
// number. The doubles' own '<' is no strict weak order once such values
// appear, and sorting with it would be undefined.
bool lessNotANumberFirst(double a, double b) {
  if (std::isnan(b)) return false;
  return std::isnan(a) || a < b;
}

// Line::operator< wherever no point is a NaN, and well defined everywhere.
bool labelOrderLess(const Line& a, const Line& b) {
  return std::lexicographical_compare(a.points.begin(), a.points.end(),
                                      b.points.begin(), b.points.end(),
                                      lessNotANumberFirst);
}

}  // namespace

std::vector<Line> sortLines(std::vector<Line> lines) {
  std::vector<Line> candidates;
  for (size_t n = 0; n < lines.size(); ++n) {
    const std::vector<double>& points = lines[n].points;
    if (points.empty() || points.back() != kCompleteValue) {
      candidates.push_back(lines[n]);
    }
  }
  std::sort(candidates.begin(), candidates.end(), labelOrderLess);
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
