#include "series.h"

#include <cmath>

#include "draw.h"
#include "sums_checks.h"

const FixedSeries kFixedSeries[kFixedSeriesCount] = {
    {"All Resources", "any_exceeded_inc", "square", "0.627 0.627 0.976"},
    {"Crew Training", "crewtrng_xcd", "diamond", "0.973 0.592 0.361"},
    {"Crew Time", "crewtime_xcd", "circle", "0.773 1520.596 0.886"},
    {"Upmass", "upmass_xcd", "triangle", "0.239 0.843 1"},
    {"Keep-alive Power", "keepalive_xcd", "diamond", "0 0.106 0.357"},
    {"Stowage", "stowage_xcd", "cross", "0.718 0.035 0.035"},
    {"Middecks", "middecks_xcd", "square", "1 0.616 0.165"},
    {"Energy", "energy_xcd", "circle", "0 0.424 0"},
    {"Crew-Tended Energy", "energy_crewtend_xcd", "asterisk",
     "0.957 0.678 0.733"},
    {"Acoustics", "acoustics_xcd", "plus", "0.216 0.651 0.604"},
    {"Crew-Tended Acoustics", "acoustics_crewtend_xcd", "underscore", "0 0 1"},
    {"MTL", "MTL_xcd", "smallsquare", "1 0 1"},
    {"Crew-Tended MTL", "MTL_crewtend_xcd", "smallasterisk", "0.419 0.031 0.5"},
    {"LTL", "LTL_xcd", "triangle", "0.094 0.804 0.094"},
    {"Crew-Tended LTL", "LTL_crewtend_xcd", "smallcircle", "0.424 0 0"},
};

std::string pointsQuery(const std::string& table, const std::string& resource) {
  return "select selectednum, sum(" + resource + ") from " + table +
         " group by selectednum order by selectednum asc";
}

std::vector<double> getPoints(ResultSet res, std::string table,
                              std::string resource, int order) {
  res.query << pointsQuery(table, resource);
  res.store();
  std::vector<double> points;
  points.reserve(res.size());
  while (res.next()) {
    double sum = res.get(1);
    points.push_back(100.0 - (sum / static_cast<double>(order)) * 100.0);
  }
  return points;
}

namespace {

// Beyond this a point's page coordinate overflows the single-precision
// reals of PostScript interpreters, and the page stops with an error.
constexpr double kLargestDrawableValue = 1e30;

// The empty text, or the diagnostic for the first point of line that
// cannot be drawn (possible only when flag columns hold huge numbers).
std::string undrawableValue(const Line& line) {
  for (double value : line.points) {
    if (!std::isfinite(value) || std::fabs(value) > kLargestDrawableValue) {
      return "Value " + formatNumber(value) + " of series \"" + line.name +
             "\" cannot be drawn\n";
    }
  }
  return "";
}

// Builds, appends and draws the series of the current row of sums.
std::string drawOneSumsSeries(std::ostream& out, const ResultSet& sums,
                              const ResultSet& res, const std::string& table,
                              int order, std::vector<Line>& lines) {
  std::string name = sums.get("name");
  std::string outputfield = sums.get("outputfield");
  if (!isSafeColumnName(outputfield)) {
    return "Invalid output field \"" + outputfield + "\" for series \"" + name +
           "\"\n";
  }
  lines.push_back(
      Line(getPoints(res, table, outputfield + "_xcd", order), name));
  std::string blue = sums.get("blue");
  std::string green = sums.get("green");
  std::string red = sums.get("red");
  std::string symbol = sums.get("symbol");
  if (!isColourComponent(red) || !isColourComponent(green) ||
      !isColourComponent(blue)) {
    return "Invalid colour \"" + red + " " + green + " " + blue +
           "\" for series \"" + name + "\"\n";
  }
  if (!isGlyphName(symbol)) {
    return "Unknown symbol \"" + symbol + "\" for series \"" + name + "\"\n";
  }
  std::string failure = undrawableValue(lines.back());
  if (!failure.empty()) return failure;
  drawLine(out, red + " " + green + " " + blue, symbol, lines.back().points);
  return "";
}

}  // namespace

std::string drawFixedSeries(std::ostream& out, const ResultSet& res,
                            const std::string& table, int order,
                            std::vector<Line>& lines) {
  for (const FixedSeries& series : kFixedSeries) {
    lines.push_back(
        Line(getPoints(res, table, series.column, order), series.name));
    std::string failure = undrawableValue(lines.back());
    if (!failure.empty()) return failure;
    drawLine(out, series.color, series.glyph, lines.back().points);
  }
  return "";
}

std::string drawSumsSeries(std::ostream& out, ResultSet& sums,
                           const ResultSet& res, const std::string& table,
                           int order, std::vector<Line>& lines) {
  if (sums.size() == 0) return "";
  while (sums.next()) {
    std::string failure =
        drawOneSumsSeries(out, sums, res, table, order, lines);
    if (!failure.empty()) return failure;
  }
  return "";
}
