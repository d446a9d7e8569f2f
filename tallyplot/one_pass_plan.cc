#include "one_pass_plan.h"

#include "per_series_plan.h"

std::string onePassQuery(const std::string& table,
                         const std::vector<std::string>& summands) {
  std::string query = "select selectednum, count(idx)";
  for (const std::string& summand : summands) query += ", sum(" + summand + ")";
  return query + " from " + table +
         " group by selectednum order by selectednum asc";
}

namespace {

// One series as the per-series plan reads it: one statement sums column;
// a sums row may already be known to fail after that statement, before its
// values are looked at (a colour or glyph that cannot be drawn, a colour
// column sums lacks).
struct SeriesStep {
  std::string column;
  std::string name;
  std::string color;
  std::string glyph;
  std::string after;  // that diagnostic; empty: none
};

std::vector<SeriesStep> fixedSteps() {
  std::vector<SeriesStep> steps;
  for (const FixedSeries& f : kFixedSeries) {
    steps.push_back({f.column, f.name, f.color, f.glyph, ""});
  }
  return steps;
}

// Appends a step per sums row, up to the first row whose statement the
// per-series plan never sends; returns the diagnostic that row gives, or
// the empty text. Rows after one that fails after its statement are left
// out: the run ends there.
std::string addSumsSteps(ResultSet& sums, MYSQL* conn,
                         std::vector<SeriesStep>& steps) {
  if (sums.size() == 0) return "";
  if (const char* missing = firstMissingField(sums, kSumsQueryFields)) {
    return ResultSet::missingFieldText(missing, kSumsQuery);
  }
  const char* noStyle = firstMissingField(sums, kSumsStyleFields);
  while (sums.next()) {
    SumsRow row;
    readSeriesColumn(sums, conn, row);
    std::string failure = invalidOutputField(row);
    if (!failure.empty()) return failure;
    SeriesStep step{row.column(), row.name, "", "", ""};
    if (noStyle != nullptr) {
      step.after = ResultSet::missingFieldText(noStyle, kSumsQuery);
    } else {
      readSumsFields(sums, kSumsStyleFields, row);
      step.color = row.color();
      step.glyph = row.symbol;
      step.after = invalidStyle(row);
    }
    steps.push_back(step);
    if (!step.after.empty()) break;
  }
  return "";
}

// Whether a column of this type may be summed as a double: the server adds
// doubles in under half the time of its exact decimal sum, and for small
// integers every partial sum is an integer far below 2^53, so exact.
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

// The statement that gives the types of the columns the steps sum, and
// fails, without reading a row, wherever the one-pass statement would be
// refused. An account granted only the columns the chart reads may send it.
std::string probeQuery(const std::string& table,
                       const std::vector<SeriesStep>& steps) {
  std::string query = "select idx, selectednum";
  for (const SeriesStep& step : steps) query += ", " + step.column;
  return query + " from " + table + " limit 0";
}

// Turns a column into a double. A function, not a literal such as 0e0:
// Spider writes the statement it sends to a cluster's backends from the
// parsed one, prints a double literal by its value (0e0 as the integer 0,
// an exact sum again) and passes function calls on as written; sqrt(0) is
// exactly 0 wherever IEEE arithmetic is.
constexpr char kAsDouble[] = " + sqrt(0)";

// What to sum for each step: the column as a double where the probed type
// sums exactly as one, the column itself otherwise.
std::vector<std::string> summands(const ResultSet& probe,
                                  const std::vector<SeriesStep>& steps) {
  std::vector<std::string> result;
  for (size_t i = 0; i < steps.size(); ++i) {
    const int column = static_cast<int>(i) + 2;
    const bool asDouble = column < probe.columnCount() &&
                          sumsExactlyAsDouble(probe.columnInfo(column));
    result.push_back(steps[i].column + (asDouble ? kAsDouble : ""));
  }
  return result;
}

// Checks the rows of the one-pass statement as the per-series plan checks
// its statements' rows, series by series, and appends the series. Returns
// the first diagnostic, else end: the one due after the last step.
std::string checkRows(ResultSet& res, const std::string& table,
                      const std::vector<SeriesStep>& steps,
                      const std::string& end,
                      std::vector<ChartSeries>& series) {
  if (res.size() == 0) return ResultSet::noRowsText(groupSizeQuery(table));
  res.next();
  const int order = static_cast<int>(static_cast<double>(res.get(1)));
  if (order == 0) return zeroGroupSize(groupSizeQuery(table));
  std::vector<std::vector<double>> points(steps.size());
  do {
    for (size_t i = 0; i < steps.size(); ++i) {
      points[i].push_back(
          successPercentage(res.get(static_cast<int>(i) + 2), order));
    }
  } while (res.next());
  for (size_t i = 0; i < steps.size(); ++i) {
    if (!steps[i].after.empty()) return steps[i].after;
    Line line(points[i], steps[i].name);
    std::string failure = undrawableValue(line, steps[i].glyph);
    if (!failure.empty()) return failure;
    series.push_back({line, steps[i].color, steps[i].glyph});
  }
  return end;
}

std::string readSteps(MYSQL* conn, const std::string& table,
                      const std::vector<SeriesStep>& steps,
                      const std::string& end, std::vector<ChartSeries>& series);

// After a statement of this plan failed. Unless the server refused it as
// written, the run ends with its failure: a statement stopped while it ran
// must not be followed by more work. Otherwise the first per-series
// statement that fails is found by twins that read no row (the same text
// with limit 0), the steps before it are read and checked, and then that
// statement itself is sent, known to fail at once, for its own diagnostic.
std::string afterFailure(const ResultSet& failed, MYSQL* conn,
                         const std::string& table,
                         const std::vector<SeriesStep>& steps,
                         std::vector<ChartSeries>& series) {
  if (!failed.refusedAsWritten()) return failed.failure();
  // The server answers a twin without estimating the rows it would read, so
  // no twin finds a refusal over max_join_size; every per-series statement
  // reads the same rows, and the first, the group size, is refused alike.
  const bool byEstimate = failed.refusedByEstimate();
  ResultSet twin(conn);
  for (size_t k = 0; k <= steps.size(); ++k) {
    const std::string statement = k == 0
                                      ? groupSizeQuery(table)
                                      : pointsQuery(table, steps[k - 1].column);
    if (!byEstimate) {
      if (twin.tryStoreQuery(statement + " limit 0")) continue;
      if (!twin.refusedAsWritten()) return twin.failure();
    }
    if (k > 0) {
      const std::vector<SeriesStep> before(steps.begin(),
                                           steps.begin() + (k - 1));
      std::string failure = readSteps(conn, table, before, "", series);
      if (!failure.empty()) return failure;
    }
    ResultSet refused(conn);
    if (!refused.tryStoreQuery(statement)) return refused.failure();
    break;  // accepted after all: the table changed in the meantime
  }
  return failed.failure();
}

// Reads and checks the steps with one scan of the data table.
std::string readSteps(MYSQL* conn, const std::string& table,
                      const std::vector<SeriesStep>& steps,
                      const std::string& end,
                      std::vector<ChartSeries>& series) {
  ResultSet probe(conn);
  if (!probe.tryStoreQuery(probeQuery(table, steps))) {
    return afterFailure(probe, conn, table, steps, series);
  }
  ResultSet res(conn);
  if (!res.tryStoreQuery(onePassQuery(table, summands(probe, steps)))) {
    return afterFailure(res, conn, table, steps, series);
  }
  return checkRows(res, table, steps, end, series);
}

}  // namespace

std::string readOnePass(MYSQL* conn, MYSQL* dataconn, const std::string& table,
                        std::vector<ChartSeries>& series) {
  std::vector<SeriesStep> steps = fixedSteps();
  std::string end;
  ResultSet sums(dataconn);
  if (sums.tryStoreQuery(kSumsQuery)) {
    end = addSumsSteps(sums, conn, steps);
  } else if (sums.refusedAsWritten()) {
    end = sums.failure();  // due once the fixed series are read
  } else {
    return sums.failure();
  }
  return readSteps(conn, table, steps, end, series);
}
