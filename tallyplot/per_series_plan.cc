#include "per_series_plan.h"

std::string groupSizeQuery(const std::string& table) {
  return "select count(idx) from " + table +
         " group by selectednum order by selectednum asc";
}

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
  while (res.next()) points.push_back(successPercentage(res.get(1), order));
  return points;
}

namespace {

// The number of rows of the first selectednum group, or 0 with the
// diagnostic set when that group counts no idx at all.
int readGroupSize(ResultSet& res, const std::string& table,
                  std::string& failure) {
  res.query << groupSizeQuery(table);
  res.store();
  res.next();
  int order = static_cast<int>(static_cast<double>(res.get(0)));
  if (order == 0) failure = zeroGroupSize(groupSizeQuery(table));
  return order;
}

// The empty text, or the diagnostic for a series that came back with
// another number of points than the first: rows of a new selectednum
// arrived between two statements, and the chart would mix two states of
// the table.
std::string changedLength(const Line& line,
                          const std::vector<ChartSeries>& series) {
  if (series.empty()) return "";
  size_t first = series.front().line.points.size();
  if (line.points.size() == first) return "";
  return "Series \"" + line.name + "\" has " +
         std::to_string(line.points.size()) + " points, the first series has " +
         std::to_string(first) + "; the data table changed during the run\n";
}

// Queries the points of one series into line and checks their number.
std::string readLine(const ResultSet& res, const std::string& table,
                     const std::string& column, int order,
                     const std::vector<ChartSeries>& series, Line& line) {
  line.points = getPoints(res, table, column, order);
  return changedLength(line, series);
}

std::string readFixedSeries(const ResultSet& res, const std::string& table,
                            int order, std::vector<ChartSeries>& series) {
  for (const FixedSeries& fixed : kFixedSeries) {
    Line line({}, fixed.name);
    std::string failure =
        readLine(res, table, fixed.column, order, series, line);
    if (failure.empty()) failure = undrawableValue(line, fixed.glyph);
    if (!failure.empty()) return failure;
    series.push_back({line, fixed.color, fixed.glyph});
  }
  return "";
}

// Reads the series of the current row of sums. The column name is checked
// before its query is sent; the colour and glyph are looked up only after.
std::string readOneSumsSeries(const ResultSet& sums, const ResultSet& res,
                              const std::string& table, int order,
                              std::vector<ChartSeries>& series) {
  SumsRow row;
  readSeriesColumn(sums, res.getConn(), row);
  std::string failure = invalidOutputField(row);
  if (!failure.empty()) return failure;
  Line line({}, row.name);
  failure = readLine(res, table, row.column(), order, series, line);
  if (!failure.empty()) return failure;
  readSumsFields(sums, kSumsStyleFields, row);
  failure = invalidStyle(row);
  if (failure.empty()) failure = undrawableValue(line, row.symbol);
  if (!failure.empty()) return failure;
  series.push_back({line, row.color(), row.symbol});
  return "";
}

std::string readSumsSeries(MYSQL* dataconn, const ResultSet& res,
                           const std::string& table, int order,
                           std::vector<ChartSeries>& series) {
  ResultSet sums(dataconn);
  sums.query << kSumsQuery;
  sums.store();
  if (sums.size() == 0) return "";
  while (sums.next()) {
    std::string failure = readOneSumsSeries(sums, res, table, order, series);
    if (!failure.empty()) return failure;
  }
  return "";
}

}  // namespace

std::string readPerSeries(MYSQL* conn, MYSQL* dataconn,
                          const std::string& table,
                          std::vector<ChartSeries>& series) {
  ResultSet res(conn);
  std::string failure;
  int order = readGroupSize(res, table, failure);
  if (!failure.empty()) return failure;
  failure = readFixedSeries(res, table, order, series);
  if (!failure.empty()) return failure;
  return readSumsSeries(dataconn, res, table, order, series);
}
