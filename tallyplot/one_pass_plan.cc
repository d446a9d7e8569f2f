#include "one_pass_plan.h"

std::string onePassQuery(const std::string& table,
                         const std::vector<std::string>& summands) {
  std::string query = "select selectednum, count(idx)";
  for (const std::string& summand : summands) query += ", sum(" + summand + ")";
  return query + " from " + table +
         " group by selectednum order by selectednum asc";
}

namespace {

// Whether a column of this type may be summed as `column + 0e0`: the server
// adds doubles in under half the time of its exact decimal sum, and for
// small integers every partial sum is an integer far below 2^53, so exact.
bool sumsExactlyAsDouble(const MYSQL_FIELD& field) {
  switch (field.type) {
    case MYSQL_TYPE_TINY:
    case MYSQL_TYPE_SHORT:
      return true;
    case MYSQL_TYPE_BIT:
      return field.length <= 16;
    default:
      return false;
  }
}

// What to sum for each column: `column + 0e0` where the server's type for
// it, probed without reading a row, sums exactly as a double, the column
// itself otherwise. The probe names the columns as the sums will, so the
// server resolves them alike and an account granted only those columns may
// send it. False when the probe fails.
bool summands(MYSQL* conn, const std::string& table,
              const std::vector<std::string>& columns,
              std::vector<std::string>& result) {
  std::string probeQuery = "select ";
  for (size_t i = 0; i < columns.size(); ++i) {
    probeQuery += (i == 0 ? "" : ", ") + columns[i];
  }
  ResultSet probe(conn);
  if (!probe.tryStoreQuery(probeQuery + " from " + table + " limit 0") ||
      probe.columnCount() != static_cast<int>(columns.size())) {
    return false;
  }
  for (size_t i = 0; i < columns.size(); ++i) {
    const bool asDouble =
        sumsExactlyAsDouble(probe.columnInfo(static_cast<int>(i)));
    result.push_back(asDouble ? columns[i] + " + 0e0" : columns[i]);
  }
  return true;
}

// The selected sums rows, if every one of them can make a series.
bool readSumsRows(MYSQL* dataconn, std::vector<SumsRow>& rows) {
  ResultSet sums(dataconn);
  if (!sums.tryStoreQuery(kSumsQuery)) return false;
  if (sums.size() == 0) return true;
  for (const char* field : kSumsFields) {
    if (!sums.hasField(field)) return false;
  }
  while (sums.next()) {
    SumsRow row{sums.get("name"),  sums.get("outputfield"), sums.get("red"),
                sums.get("green"), sums.get("blue"),        sums.get("symbol")};
    if (!invalidOutputField(row).empty()) return false;
    rows.push_back(row);
  }
  return true;
}

// The summed column of every series: the fixed ones, then one per row.
std::vector<std::string> seriesColumns(const std::vector<SumsRow>& rows) {
  std::vector<std::string> columns;
  for (const FixedSeries& fixed : kFixedSeries) columns.push_back(fixed.column);
  for (const SumsRow& row : rows) columns.push_back(row.column());
  return columns;
}

// The points of every column, one list per column, from the rows of the
// one-pass statement; false when there are no rows or the group size is 0.
bool readAllPoints(ResultSet& res, size_t columns,
                   std::vector<std::vector<double>>& points) {
  if (res.size() == 0) return false;
  res.next();
  int order = static_cast<int>(static_cast<double>(res.get(1)));
  if (order == 0) return false;
  points.assign(columns, {});
  do {
    for (size_t i = 0; i < columns; ++i) {
      points[i].push_back(
          successPercentage(res.get(static_cast<int>(i) + 2), order));
    }
  } while (res.next());
  return true;
}

}  // namespace

bool readOnePass(MYSQL* conn, MYSQL* dataconn, const std::string& table,
                 std::vector<ChartSeries>& series) {
  std::vector<SumsRow> rows;
  if (!readSumsRows(dataconn, rows)) return false;
  std::vector<std::string> columns = seriesColumns(rows);
  std::vector<std::string> summed;
  if (!summands(conn, table, columns, summed)) return false;
  ResultSet res(conn);
  std::vector<std::vector<double>> points;
  if (!res.tryStoreQuery(onePassQuery(table, summed)) ||
      !readAllPoints(res, columns.size(), points)) {
    return false;
  }
  for (int i = 0; i < kFixedSeriesCount; ++i) {
    const FixedSeries& fixed = kFixedSeries[i];
    series.push_back({Line(points[i], fixed.name), fixed.color, fixed.glyph});
  }
  for (size_t j = 0; j < rows.size(); ++j) {
    if (!invalidStyle(rows[j]).empty()) return false;
    series.push_back({Line(points[kFixedSeriesCount + j], rows[j].name),
                      rows[j].color(), rows[j].symbol});
  }
  for (const ChartSeries& s : series) {
    if (!undrawableValue(s.line, s.glyph).empty()) return false;
  }
  return true;
}
