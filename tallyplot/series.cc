#include "series.h"

#include <cmath>
#include <cstddef>

#include "draw.h"
#include "sums_checks.h"

const FixedSeries kFixedSeries[kFixedSeriesCount] = {
    {"All Resources", "any_exceeded_inc", "square", "0.627 0.627 0.976",
     "Any exceeded"},
    {"Crew Training", "crewtrng_xcd", "diamond", "0.973 0.592 0.361",
     "Crew training"},
    {"Crew Time", "crewtime_xcd", "circle", "0.773 1520.596 0.886", "Crewtime"},
    {"Upmass", "upmass_xcd", "triangle", "0.239 0.843 1", "Upmass"},
    {"Keep-alive Power", "keepalive_xcd", "diamond", "0 0.106 0.357",
     "Keepalive power"},
    {"Stowage", "stowage_xcd", "cross", "0.718 0.035 0.035", "Stowage"},
    {"Middecks", "middecks_xcd", "square", "1 0.616 0.165", "Middecks"},
    {"Energy", "energy_xcd", "circle", "0 0.424 0", "Energy"},
    {"Crew-Tended Energy", "energy_crewtend_xcd", "asterisk",
     "0.957 0.678 0.733", "Crew-tended energy"},
    {"Acoustics", "acoustics_xcd", "plus", "0.216 0.651 0.604", "Acoustics"},
    {"Crew-Tended Acoustics", "acoustics_crewtend_xcd", "underscore", "0 0 1",
     "C.T. acoustics"},
    {"MTL", "MTL_xcd", "smallsquare", "1 0 1", "MTL"},
    {"Crew-Tended MTL", "MTL_crewtend_xcd", "smallasterisk", "0.419 0.031 0.5",
     "Crew-tended MTL"},
    {"LTL", "LTL_xcd", "triangle", "0.094 0.804 0.094", "LTL"},
    {"Crew-Tended LTL", "LTL_crewtend_xcd", "smallcircle", "0.424 0 0",
     "Crew-tended LTL"},
};

const char kSumsQuery[] = "select * from sums where increment=1";

const SumsField kSumsQueryFields[2] = {{"name", &SumsRow::name},
                                       {"outputfield", &SumsRow::outputfield}};

const SumsField kSumsStyleFields[4] = {{"blue", &SumsRow::blue},
                                       {"green", &SumsRow::green},
                                       {"red", &SumsRow::red},
                                       {"symbol", &SumsRow::symbol}};

void readSeriesColumn(const ResultSet& sums, MYSQL* conn, SumsRow& row) {
  readSumsFields(sums, kSumsQueryFields, row);
  row.outputfield = ResultSet::inStatementCharacterSet(conn, row.outputfield);
}

double successPercentage(double sum, int order) {
  return 100.0 - (sum / static_cast<double>(order)) * 100.0;
}

std::string zeroGroupSize(const std::string& query) {
  return "Group size is 0 in query \"" + query + "\"\n";
}

std::string invalidOutputField(const SumsRow& row) {
  if (isSafeColumnName(row.outputfield)) return "";
  return "Invalid output field \"" + row.outputfield + "\" for series \"" +
         row.name + "\"\n";
}

std::string invalidStyle(const SumsRow& row) {
  if (!isColourComponent(row.red) || !isColourComponent(row.green) ||
      !isColourComponent(row.blue)) {
    return "Invalid colour \"" + row.color() + "\" for series \"" + row.name +
           "\"\n";
  }
  if (!isGlyphName(row.symbol)) {
    return "Unknown symbol \"" + row.symbol + "\" for series \"" + row.name +
           "\"\n";
  }
  return "";
}

namespace {

// Beyond this a point's page coordinate overflows the single-precision
// reals of PostScript interpreters, and the page stops with an error.
constexpr double kLargestDrawableValue = 1e30;

// Ghostscript stops with a limitcheck on an arc centred beyond 2^23 device
// pixels; at 4.25 points per percent this keeps a circle glyph within that
// up to 1,400 dpi, more than ps2pdf's 720 dpi or a 1,200 dpi printer. The
// paths of lines and of the other glyphs are clamped there instead.
constexpr double kLargestArcValue = 1e5;
// The same page budget across, at 14.2 points per group.
constexpr size_t kMostArcPoints = 30000;

bool isDrawnWithAnArc(const std::string& glyph) {
  return glyph == "circle" || glyph == "smallcircle";
}

}  // namespace

std::string undrawableValue(const Line& line, const std::string& glyph) {
  const bool arc = isDrawnWithAnArc(glyph);
  if (arc && line.points.size() > kMostArcPoints) {
    return "Series \"" + line.name + "\" has " +
           std::to_string(line.points.size()) + " points, more than the " +
           std::to_string(kMostArcPoints) + " that can be drawn\n";
  }
  const double largest = arc ? kLargestArcValue : kLargestDrawableValue;
  for (double value : line.points) {
    if (!std::isfinite(value) || std::fabs(value) > largest) {
      return "Value " + formatNumber(value) + " of series \"" + line.name +
             "\" cannot be drawn\n";
    }
  }
  return "";
}
