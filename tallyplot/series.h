// The chart series: the fifteen fixed ones and those listed in sums.
#ifndef TALLYPLOT_SERIES_H_
#define TALLYPLOT_SERIES_H_

#include <ostream>
#include <string>
#include <vector>

#include "line.h"
#include "resultset.h"

// One of the fifteen series every chart has.
struct FixedSeries {
  const char* name;
  const char* column;
  const char* glyph;
  const char* color;
};

constexpr int kFixedSeriesCount = 15;
extern const FixedSeries kFixedSeries[kFixedSeriesCount];

// The query of every series: select selectednum, sum(resource) from table
// group by selectednum order by selectednum asc.
std::string pointsQuery(const std::string& table, const std::string& resource);

// Percentage of each selectednum group's rows not exceeding resource.
std::vector<double> getPoints(ResultSet res, std::string table,
                              std::string resource, int order);

// Queries, appends and draws the fifteen fixed series. Returns the empty
// text, or the diagnostic line that ends the run when a series holds a
// value no PostScript interpreter can draw.
std::string drawFixedSeries(std::ostream& out, const ResultSet& res,
                            const std::string& table, int order,
                            std::vector<Line>& lines);

// Queries, appends and draws one series per row of sums. Returns the
// empty text, or the diagnostic line that ends the run when a row holds a
// column name, colour or glyph that cannot be used, or its series a value
// that cannot be drawn.
std::string drawSumsSeries(std::ostream& out, ResultSet& sums,
                           const ResultSet& res, const std::string& table,
                           int order, std::vector<Line>& lines);

#endif  // TALLYPLOT_SERIES_H_
