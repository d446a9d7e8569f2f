#include "one_pass_plan.h"

#include "per_series_plan.h"
#include "split_scan.h"

std::string onePassQuery(const std::string& table,
                         const std::vector<std::string>& summands) {
  return groupedSelect(table, summands) +
         " group by selectednum order by selectednum asc";
}

namespace {

// Where and how the data table is scanned: on conn, with up to jobs
// connections like it, while idle, the sums' connection, has nothing to do.
struct Scan {
  MYSQL* conn;
  MYSQL* idle;
  std::string table;
  int jobs;
};

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
// sums exactly as one, the column itself otherwise; allDouble tells whether
// every column is summed as a double.
std::vector<std::string> summands(const ResultSet& probe,
                                  const std::vector<SeriesStep>& steps,
                                  bool& allDouble) {
  std::vector<std::string> result;
  allDouble = true;
  for (size_t i = 0; i < steps.size(); ++i) {
    const int column = static_cast<int>(i) + 2;
    const bool asDouble = column < probe.columnCount() &&
                          sumsExactlyAsDouble(probe.columnInfo(column));
    allDouble = allDouble && asDouble;
    result.push_back(steps[i].column + (asDouble ? kAsDouble : ""));
  }
  return result;
}

// The groups of the one grouped statement's result.
std::vector<GroupSums> groupsOf(ResultSet& res, size_t summands) {
  std::vector<GroupSums> groups;
  if (res.size() == 0) return groups;
  while (res.next()) {
    GroupSums group{static_cast<double>(res.get(1)), {}};
    for (size_t i = 0; i < summands; ++i) {
      group.sums.push_back(
          static_cast<double>(res.get(static_cast<int>(i) + 2)));
    }
    groups.push_back(group);
  }
  return groups;
}

// Checks the groups of the grouped scan as the per-series plan checks its
// statements' rows, series by series, and appends the series. Returns the
// first diagnostic, else end: the one due after the last step.
std::string checkRows(const std::vector<GroupSums>& groups,
                      const std::string& table,
                      const std::vector<SeriesStep>& steps,
                      const std::string& end,
                      std::vector<ChartSeries>& series) {
  if (groups.empty()) return ResultSet::noRowsText(groupSizeQuery(table));
  const int order = static_cast<int>(groups.front().count);
  if (order == 0) return zeroGroupSize(groupSizeQuery(table));
  std::vector<std::vector<double>> points(steps.size());
  for (const GroupSums& group : groups) {
    for (size_t i = 0; i < steps.size(); ++i) {
      points[i].push_back(successPercentage(group.sums[i], order));
    }
  }
  for (size_t i = 0; i < steps.size(); ++i) {
    if (!steps[i].after.empty()) return steps[i].after;
    Line line(points[i], steps[i].name);
    std::string failure = undrawableValue(line, steps[i].glyph);
    if (!failure.empty()) return failure;
    series.push_back({line, steps[i].color, steps[i].glyph});
  }
  return end;
}

std::string readSteps(const Scan& scan, const std::vector<SeriesStep>& steps,
                      const std::string& end, std::vector<ChartSeries>& series);

// After a statement of this plan failed. Unless the server refused it as
// written, the run ends with its failure: a statement stopped while it ran
// must not be followed by more work. Otherwise the first per-series
// statement that fails is found by twins that read no row (the same text
// with limit 0), the steps before it are read and checked, and then that
// statement itself is sent, known to fail at once, for its own diagnostic.
std::string afterFailure(const ResultSet& failed, const Scan& scan,
                         const std::vector<SeriesStep>& steps,
                         std::vector<ChartSeries>& series) {
  if (!failed.refusedAsWritten()) return failed.failure();
  MYSQL* conn = scan.conn;
  const std::string& table = scan.table;
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
      std::string failure = readSteps(scan, before, "", series);
      if (!failure.empty()) return failure;
    }
    ResultSet refused(conn);
    if (!refused.tryStoreQuery(statement)) return refused.failure();
    break;  // accepted after all: the table changed in the meantime
  }
  return failed.failure();
}

// Reads and checks the steps with one scan of the data table, split into
// ranges where it may be.
std::string readSteps(const Scan& scan, const std::vector<SeriesStep>& steps,
                      const std::string& end,
                      std::vector<ChartSeries>& series) {
  ResultSet probe(scan.conn);
  if (!probe.tryStoreQuery(probeQuery(scan.table, steps))) {
    return afterFailure(probe, scan, steps, series);
  }
  bool allDouble;
  const std::vector<std::string> sums = summands(probe, steps, allDouble);
  std::vector<GroupSums> groups;
  ResultSet res(scan.conn);
  SplitOutcome outcome = SplitOutcome::kNotSplit;
  if (scan.jobs > 1 && maySplit(scan.table, probe, allDouble)) {
    outcome = readSplit(scan.conn, scan.idle, scan.table, sums, scan.jobs,
                        groups, res);
  }
  if (outcome == SplitOutcome::kNotSplit) {
    outcome = res.tryStoreQuery(onePassQuery(scan.table, sums))
                  ? SplitOutcome::kRead
                  : SplitOutcome::kFailed;
    if (outcome == SplitOutcome::kRead) groups = groupsOf(res, sums.size());
  }
  if (outcome == SplitOutcome::kFailed) {
    return afterFailure(res, scan, steps, series);
  }
  return checkRows(groups, scan.table, steps, end, series);
}

}  // namespace

std::string readOnePass(MYSQL* conn, MYSQL* dataconn, const std::string& table,
                        int jobs, std::vector<ChartSeries>& series) {
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
  return readSteps({conn, dataconn, table, jobs}, steps, end, series);
}
