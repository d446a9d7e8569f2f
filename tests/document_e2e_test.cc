// End-to-end tests of the whole document: the built tallyplot binary runs
// against tables in the throwaway MariaDB server, and every document it
// writes is checked line by line against what the inserted data must give
// and rendered by Ghostscript.
#include <gtest/gtest.h>
#include <mysql.h>
#include <strings.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ps.h"
#include "test_support.h"

namespace {

using test_support::ProcessResult;
using test_support::ScratchDatabase;
using test_support::splitLines;

constexpr int kNull = -1;  // a flag value standing for SQL NULL
const char kSumsQuery[] = "select * from sums where increment=1";
// What each connection sends first: every row, texts in its character set.
const char kSession[] =
    "SET NAMES utf8mb4, sql_select_limit = 18446744073709551615";

using test_support::demoSql;
using test_support::kFixedSeries;

std::vector<std::string> fixedColumns() {
  std::vector<std::string> columns;
  for (const test_support::FixedSeries& f : kFixedSeries)
    columns.push_back(f.column);
  return columns;
}

std::string g(double value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%g", value);
  return buf;
}

std::string psEscaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\' || c == '(' || c == ')') out += '\\';
    out += c;
  }
  return out;
}

std::string sqlText(const char* text) {
  if (text == nullptr) return "NULL";
  std::string out = "'";
  for (const char* p = text; *p; ++p) {
    if (*p == '\\' || *p == '\'') out += '\\';
    out += *p;
  }
  return out + "'";
}

// Rows of a data table, and what the chart must make of them.
class DataSet {
 public:
  explicit DataSet(std::vector<std::string> columns)
      : columns_(std::move(columns)) {}

  // One row; columns not named in flags hold 0.
  void add(int selectednum, const std::map<std::string, int>& flags = {},
           bool idxNull = false) {
    Row row{selectednum, idxNull, std::vector<int>(columns_.size(), 0)};
    for (const auto& [column, value] : flags)
      row.flags.at(indexOf(column)) = value;
    rows_.push_back(row);
  }
  // Adds count rows to a group, the first `exceeded` of them flagged in
  // column.
  void addGroup(int selectednum, int count,
                const std::map<std::string, int>& exceeded = {}) {
    for (int r = 0; r < count; ++r) {
      std::map<std::string, int> flags;
      for (const auto& [column, n] : exceeded) flags[column] = r < n ? 1 : 0;
      add(selectednum, flags);
    }
  }
  void set(size_t row, const std::string& column, int value) {
    rows_.at(row).flags.at(indexOf(column)) = value;
  }

  std::string createSql(const std::string& table) const;
  std::string insertSql(const std::string& table) const;
  // The group size: rows with an idx in the lowest selectednum group.
  int order() const;
  // One percentage per selectednum group, ascending.
  std::vector<double> points(const std::string& column) const;

 private:
  // One inserted row.
  struct Row {
    int selectednum;
    bool idxNull;
    std::vector<int> flags;
  };
  size_t indexOf(const std::string& column) const {
    auto it = std::find(columns_.begin(), columns_.end(), column);
    if (it == columns_.end()) ADD_FAILURE() << "no column " << column;
    return it - columns_.begin();
  }
  std::vector<int> groups() const {
    std::vector<int> keys;
    for (const Row& r : rows_) keys.push_back(r.selectednum);
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    return keys;
  }

  std::vector<std::string> columns_;
  std::vector<Row> rows_;
};

std::string DataSet::createSql(const std::string& table) const {
  std::string sql = "CREATE TABLE " + table + " (idx INT, selectednum INT";
  for (const std::string& c : columns_) sql += ", `" + c + "` INT";
  return sql + ")";
}

std::string DataSet::insertSql(const std::string& table) const {
  std::string sql = "INSERT INTO " + table + " VALUES ";
  for (size_t i = 0; i < rows_.size(); ++i) {
    const Row& r = rows_[i];
    sql += (i ? ",(" : "(") +
           (r.idxNull ? std::string("NULL") : std::to_string(i + 1)) + "," +
           std::to_string(r.selectednum);
    for (int f : r.flags)
      sql += "," + (f == kNull ? "NULL" : std::to_string(f));
    sql += ")";
  }
  return sql;
}

int DataSet::order() const {
  const int first = groups().front();
  int count = 0;
  for (const Row& r : rows_) count += r.selectednum == first && !r.idxNull;
  return count;
}

std::vector<double> DataSet::points(const std::string& column) const {
  const size_t c = indexOf(column);
  std::vector<double> points;
  for (int key : groups()) {
    double sum = 0;  // a group without any non-NULL flag sums to NULL: 0
    for (const Row& r : rows_) {
      if (r.selectednum == key && r.flags[c] != kNull) sum += r.flags[c];
    }
    points.push_back(100.0 - (sum / order()) * 100.0);
  }
  return points;
}

// A sums row; a null pointer is SQL NULL.
struct SumsRow {
  const char* increment;
  const char* name;
  const char* outputfield;
  const char* red;
  const char* green;
  const char* blue;
  const char* symbol;
};

// A series the document must draw.
struct Series {
  std::string name;
  std::string color;
  std::string glyph;
  std::vector<double> points;
};

// Label lines by the placement rules: candidates (not ending at exactly
// 100) in descending order of their points, each labelled at its leftmost
// point below a falling ceiling that is clear of every other candidate.
std::vector<std::string> expectedLabels(const std::vector<Series>& all) {
  std::vector<Series> c;
  for (const Series& s : all) {
    if (s.points.back() != 100.0) c.push_back(s);
  }
  std::stable_sort(c.begin(), c.end(), [](const Series& a, const Series& b) {
    return std::lexicographical_compare(b.points.begin(), b.points.end(),
                                        a.points.begin(), a.points.end());
  });
  std::vector<std::string> lines;
  double upper = 98.5;
  for (size_t n = 0; n < c.size(); ++n) {
    for (size_t j = 0; j < c[n].points.size(); ++j) {
      const double v = c[n].points[j];
      if (!(v < upper)) continue;
      bool clear = true;
      for (size_t m = 0; m < c.size(); ++m) {
        if (m != n && std::fabs(c[m].points[j] - v) <= 1.5) clear = false;
      }
      if (!clear) continue;
      lines.push_back(std::to_string(j) + " " + g(v) + " (" +
                      psEscaped(c[n].name) + ") drawLabel");
      upper = v - 1.5;
      break;
    }
  }
  return lines;
}

// Everything after the prologue, as the document must hold it.
std::string expectedBody(const std::vector<Series>& series,
                         const std::vector<std::string>& sumnames) {
  std::vector<std::string> out;
  for (const Series& s : series) {
    std::string line =
        s.color + " setrgbcolor (" + psEscaped(s.glyph) + ") 0 [ ";
    for (double v : s.points) line += g(v) + " ";
    out.push_back(line + " ] drawLine");
    out.push_back("");
  }
  out.push_back("0 0 0 setrgbcolor");
  for (const std::string& l : expectedLabels(series)) out.push_back(l);
  out.insert(out.end(), {"newpath", "drawGrid", "showpage"});
  // The table's frame as its own worked example pins it.
  std::ostringstream table;
  printTable(table, static_cast<int>(series.front().points.size()), sumnames);
  for (const std::string& l : splitLines(table.str())) out.push_back(l);
  for (size_t n = 0; n < series.size(); ++n) {
    out.push_back("0.5 inch TEXTCELL add 7 inch " + std::to_string(n + 1) +
                  " FONTSIZE mul sub NUMBERCELL");
    std::string row = "[ ";
    for (double v : series[n].points) row += "(" + g(v) + ") ";
    out.insert(out.end(), {row + "]", "tableRow", ""});
  }
  out.insert(out.end(), {"", "showpage", "end", "%%EOF"});
  std::string text;
  for (const std::string& l : out) text += l + "\n";
  return text;
}

// The fifteen fixed series as the data set must give them.
std::vector<Series> fixedSeries(const DataSet& data) {
  std::vector<Series> series;
  for (const test_support::FixedSeries& f : kFixedSeries) {
    series.push_back({f.name, f.color, f.glyph, data.points(f.column)});
  }
  return series;
}

void expectSameLines(const std::string& actual, const std::string& expected) {
  const std::vector<std::string> a = splitLines(actual);
  const std::vector<std::string> e = splitLines(expected);
  for (size_t i = 0; i < std::min(a.size(), e.size()); ++i) {
    if (a[i] != e[i]) {
      ADD_FAILURE() << "body line " << i + 1 << ": expected \"" << e[i]
                    << "\"\n                got \"" << a[i] << "\"";
      return;
    }
  }
  EXPECT_EQ(a.size(), e.size()) << "body line count";
  EXPECT_EQ(actual, expected);
}

using test_support::serverError;

using test_support::queryFailure;

std::string pointsQuery(const std::string& table, const std::string& column) {
  return "select selectednum, sum(" + column + ") from " + table +
         " group by selectednum order by selectednum asc";
}

std::string groupQuery(const std::string& table) {
  return "select count(idx) from " + table +
         " group by selectednum order by selectednum asc";
}

// The statement by which the one-pass plan learns the types of the fixed
// columns and extra.
std::string probeQuery(const std::string& table,
                       const std::vector<std::string>& extra) {
  std::string query = "select idx, selectednum";
  for (const std::string& c : fixedColumns()) query += ", " + c;
  for (const std::string& c : extra) query += ", " + c;
  return query + " from " + table + " limit 0";
}

// The one statement of the one-pass plan over the fixed columns and extra;
// the columns in asDouble are summed as doubles.
std::string onePassQuery(const std::string& table,
                         const std::vector<std::string>& extra,
                         const std::vector<std::string>& asDouble = {}) {
  std::string query = "select selectednum, count(idx)";
  std::vector<std::string> columns = fixedColumns();
  columns.insert(columns.end(), extra.begin(), extra.end());
  for (const std::string& c : columns) {
    const bool dbl =
        std::find(asDouble.begin(), asDouble.end(), c) != asDouble.end();
    query += ", sum(" + c + (dbl ? " + sqrt(0))" : ")");
  }
  return query + " from " + table +
         " group by selectednum order by selectednum asc";
}

// The ranges of idx that the split statements among statements read, each
// as its first and last value, in order.
typedef std::pair<__int128, __int128> IdxRange;
__int128 wide(const std::string& digits) {
  __int128 value = 0;
  for (char c : digits) value = c == '-' ? value : value * 10 + (c - '0');
  return digits[0] == '-' ? -value : value;
}
std::vector<IdxRange> rangesRead(const std::vector<std::string>& statements) {
  static const std::regex kRange(
      " where idx >= (-?[0-9]+) and idx (<=?) (-?[0-9]+) group by "
      "selectednum$");
  std::vector<IdxRange> ranges;
  for (const std::string& statement : statements) {
    std::smatch m;
    if (!std::regex_search(statement, m, kRange)) continue;
    ranges.emplace_back(wide(m[1]), wide(m[3]) - (m[2] == "<" ? 1 : 0));
  }
  std::sort(ranges.begin(), ranges.end());
  return ranges;
}

// A table of the layout the scan may be split over: idx, the primary key,
// of a type; small-integer flags, a few set; values from seq, 1 to rows.
std::string splittableTable(const std::string& idxType, const std::string& idx,
                            int rows, const std::string& group) {
  std::string sql =
      "DROP VIEW IF EXISTS v; DROP TABLE IF EXISTS runs; CREATE TABLE runs "
      "(idx " +
      idxType + " NOT NULL PRIMARY KEY, selectednum INT NOT NULL";
  for (const std::string& c : fixedColumns()) {
    sql += ", `" + c + "` TINYINT NOT NULL DEFAULT 0";
  }
  return sql +
         "); INSERT INTO runs (idx, selectednum, any_exceeded_inc, "
         "crewtime_xcd, LTL_xcd) SELECT " +
         idx + ", " + group +
         ", seq % 2, seq % 3 = 0, seq % 5 = 1 FROM seq_1_to_" +
         std::to_string(rows);
}

// The first column of every row of query, run as root on the test server.
std::vector<std::string> firstColumn(const std::string& query) {
  std::vector<std::string> values;
  for (const auto& row : test_support::queryRows(query))
    values.push_back(row[0]);
  return values;
}

// The server's general log, read for the statements one run of the program
// sent to two databases. It stays on for the rest of the throwaway server's
// life: tests running in parallel may be reading it.
class StatementLog {
 public:
  StatementLog() {
    test_support::execSql(
        "SET GLOBAL log_output = 'TABLE';"
        "SET GLOBAL general_log = 1");
  }
  // Forgets every connection made so far.
  void mark() {
    since_ =
        firstColumn("SELECT COALESCE(MAX(thread_id), 0) FROM mysql.general_log")
            .at(0);
  }
  // The statements of the connections to either database since mark(), in
  // the order the server received them.
  std::vector<std::string> statements(const std::string& db1,
                                      const std::string& db2) const {
    return firstColumn(
        "SELECT argument FROM mysql.general_log WHERE command_type = 'Query'"
        " AND thread_id > " +
        since_ +
        " AND thread_id IN (SELECT thread_id FROM mysql.general_log WHERE"
        " command_type = 'Connect' AND SUBSTRING_INDEX(SUBSTRING_INDEX("
        "argument, ' on ', -1), ' using ', 1) IN ('" +
        db1 + "', '" + db2 + "')) ORDER BY event_time");
  }

 private:
  std::string since_ = "0";
};

// Two scratch databases (the data database with sums, the output database
// with the data table), a scratch directory, and the run of the binary.
class DocumentTest : public ::testing::Test {
 protected:
  static constexpr const char* kTable = "runs";

  void SetUp() override {
    test_support::useTestServer();
    datadb_ = std::make_unique<ScratchDatabase>("h3data");
    outdb_ = std::make_unique<ScratchDatabase>("h3out");
  }

  void load(const DataSet& data) {
    outdb_->exec(data.createSql(kTable));
    outdb_->exec(data.insertSql(kTable));
  }
  void createSums(const std::string& columns =
                      "increment INT, name VARCHAR(100), outputfield "
                      "VARCHAR(100), red VARCHAR(40), green VARCHAR(40), "
                      "blue VARCHAR(40), symbol VARCHAR(40)") {
    datadb_->exec("CREATE TABLE sums (id INT AUTO_INCREMENT PRIMARY KEY, " +
                  columns + ", note VARCHAR(20) DEFAULT 'unused')");
  }
  void addSums(const std::vector<SumsRow>& rows) {
    for (const SumsRow& r : rows) {
      datadb_->exec(
          "INSERT INTO sums (increment, name, outputfield, red, green, blue, "
          "symbol) VALUES (" +
          sqlText(r.increment) + "," + sqlText(r.name) + "," +
          sqlText(r.outputfield) + "," + sqlText(r.red) + "," +
          sqlText(r.green) + "," + sqlText(r.blue) + "," + sqlText(r.symbol) +
          ")");
    }
  }

  ProcessResult run(const std::string& path,
                    const std::map<std::string, std::string>& env = {}) {
    log_.mark();
    return test_support::runTallyplot({path, "127.0.0.1", user_, password_,
                                       table_, datadb_->name(), outdb_->name()},
                                      env);
  }
  std::vector<std::string> statements() const {
    return log_.statements(outdb_->name(), datadb_->name());
  }
  // The columns of the extra series, as the sums table selects them.
  std::vector<std::string> extraColumns() const {
    std::vector<std::string> columns;
    for (const std::string& f :
         firstColumn("SELECT COALESCE(outputfield, '') FROM `" +
                     datadb_->name() + "`.sums WHERE increment = 1")) {
      columns.push_back(f + "_xcd");
    }
    return columns;
  }

  // Runs to completion and checks the whole document and its rendering.
  std::string runAndCheck(const std::vector<Series>& series,
                          const std::vector<std::string>& sumnames) {
    const std::string doc = runBothPlans(onePassQuery(table_, extraColumns()));
    const size_t prologue = std::strlen(kPrologue);
    EXPECT_EQ(doc.substr(0, prologue), kPrologue);
    const std::string body = doc.size() > prologue ? doc.substr(prologue) : "";
    expectSameLines(body, expectedBody(series, sumnames));
    return body;
  }

  // Runs both plans to completion: one scan of the data table, by the
  // statement onePass, gives a document that renders, and one scan per
  // series gives the same bytes. Returns the document.
  std::string runBothPlans(const std::string& onePass) {
    const std::string path = dir_.file("chart.eps");
    ProcessResult result = run(path, defaultPlan_);
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
    const std::string doc = test_support::readFile(path);
    test_support::RenderResult render =
        test_support::renderWithGhostscript(path);
    EXPECT_TRUE(render.ok) << render.log;
    EXPECT_EQ(render.pages, 2) << render.log;
    EXPECT_EQ(statements(), std::vector<std::string>(
                                {kSession, kSession, kSumsQuery,
                                 probeQuery(table_, extraColumns()), onePass}));
    const std::string perSeries = dir_.file("per-series.eps");
    result = run(perSeries, {{"TALLYPLOT_PLAN", "per-series"}});
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_EQ(statements().size(), 2 + 17 + extraColumns().size());
    EXPECT_TRUE(test_support::readFile(perSeries) == doc)
        << "the per-series plan wrote another document";
    return doc;
  }

  // Runs expecting failure with the diagnostic, with env and both plans
  // unless env names one; the output path must be left as it was. Besides the
  // sums statement and statements that read no row, the default plan sends at
  // most one aggregate and the one statement the diagnostic quotes.
  void runAndExpectFailure(const std::string& diagnostic, bool preexisting,
                           const std::map<std::string, std::string>& env = {}) {
    const std::string path = dir_.file(preexisting ? "kept.eps" : "new.eps");
    const std::string before = "%!PS earlier document\n";
    std::vector<std::map<std::string, std::string>> plans = {env, env};
    if (env.count("TALLYPLOT_PLAN") == 0) {
      plans[0]["TALLYPLOT_PLAN"] = "";
      plans[1]["TALLYPLOT_PLAN"] = "per-series";
    } else {
      plans.pop_back();
    }
    for (const auto& plan : plans) {
      SCOPED_TRACE(plan.at("TALLYPLOT_PLAN").empty()
                       ? "default plan"
                       : plan.at("TALLYPLOT_PLAN"));
      if (preexisting) test_support::writeFile(path, before);
      ProcessResult result = run(path, plan);
      EXPECT_EQ(result.status, 1);
      EXPECT_EQ(result.out, diagnostic);
      EXPECT_EQ(result.err, "");
      if (preexisting) {
        EXPECT_EQ(test_support::readFile(path), before);
      } else {
        EXPECT_FALSE(test_support::fileExists(path));
      }
      if (!plan.at("TALLYPLOT_PLAN").empty()) continue;
      const size_t quote = diagnostic.find("On query: \"");
      const std::string quoted =
          quote == std::string::npos
              ? ""
              : diagnostic.substr(quote + 11, diagnostic.size() - quote - 13);
      int aggregates = 0;
      for (const std::string& sent : statements()) {
        if (sent == kSumsQuery || sent.rfind("SET ", 0) == 0 ||
            (sent.size() > 8 && sent.substr(sent.size() - 8) == " limit 0")) {
          continue;
        }
        if (sent.rfind("select selectednum, count(idx)", 0) == 0) {
          ++aggregates;
        } else {
          EXPECT_EQ(sent, quoted) << "a scan the diagnostic does not quote";
        }
      }
      EXPECT_LE(aggregates, 1);
    }
  }

  test_support::TempDir dir_;
  std::unique_ptr<ScratchDatabase> datadb_;
  std::unique_ptr<ScratchDatabase> outdb_;
  std::string table_ = kTable;  // the table argument, used verbatim
  std::string user_ = "root";
  std::string password_ = "wqzk";
  // The environment of the default plan's runs: TALLYPLOT_PLAN unset.
  std::map<std::string, std::string> defaultPlan_;
  StatementLog log_;
};

// 37 groups of 12 rows with scattered flags and NULLs, all fifteen flag
// columns, and sums rows of which only those with increment 1 count.
TEST_F(DocumentTest, RealisticDataSet) {
  std::vector<std::string> columns = fixedColumns();
  columns.insert(columns.end(), {"power_xcd", "thermal_xcd"});
  DataSet data(columns);
  std::mt19937 rng(20040811);
  for (int group = 1; group <= 37; ++group) {
    for (int r = 0; r < 12; ++r) {
      std::map<std::string, int> flags;
      for (size_t c = 0; c < columns.size(); ++c) {
        const unsigned threshold = 2 + (group * (c + 3)) % 55;
        flags[columns[c]] = rng() % 100 < threshold ? 1 : 0;
        if (rng() % 50 == 0) flags[columns[c]] = kNull;
      }
      data.add(group, flags);
    }
  }
  load(data);
  createSums();
  addSums({
      {"1", "Power Margin", "power", "0.2", "0.4", "0.6", "smalldiamond"},
      {"0", "Ignored Zero", "power", "1", "0", "0", "circle"},
      {"1", "Thermal (W)", "thermal", "1", "0.5", "0", "cross"},
      {nullptr, "Ignored Null", "thermal", "1", "0", "0", "circle"},
      {"0", "Ignored Bad", "x; drop", "red", "", nullptr, "hexagon"},
      {"2", "Ignored Two", "power", "0", "0", "0", "plus"},
      {"1", "Upmass Again", "upmass", "0.50", " 0.25\t", "1", "smallasterisk"},
  });
  std::vector<Series> series = fixedSeries(data);
  series.push_back({"Power Margin", "0.2 0.4 0.6", "smalldiamond",
                    data.points("power_xcd")});
  series.push_back(
      {"Thermal (W)", "1 0.5 0", "cross", data.points("thermal_xcd")});
  series.push_back({"Upmass Again", "0.50  0.25\t 1", "smallasterisk",
                    data.points("upmass_xcd")});
  ASSERT_EQ(data.order(), 12);
  ASSERT_GE(expectedLabels(series).size(), 2u) << "data set labels nothing";
  runAndCheck(series, {"Power Margin", "Thermal (W)", "Upmass Again"});
}

TEST_F(DocumentTest, NoSumsRowsGivesFifteenSeriesAndRows) {
  DataSet data(fixedColumns());
  data.addGroup(1, 4, {{"crewtime_xcd", 1}, {"MTL_xcd", 3}});
  data.addGroup(2, 4, {{"crewtime_xcd", 2}, {"LTL_xcd", 4}});
  data.addGroup(3, 4, {{"any_exceeded_inc", 1}, {"crewtime_xcd", 1}});
  load(data);
  createSums();
  const std::string body = runAndCheck(fixedSeries(data), {});
  int drawLines = 0;
  int tableRows = 0;
  for (const std::string& line : splitLines(body)) {
    drawLines +=
        line.size() > 11 && line.substr(line.size() - 11) == " ] drawLine";
    tableRows += line == "tableRow";
  }
  EXPECT_EQ(drawLines, 15);
  EXPECT_EQ(tableRows, 15);
  EXPECT_NE(body.find("0.773 1520.596 0.886 setrgbcolor (circle) 0 [ 75 50 "
                      "75  ] drawLine\n"),
            std::string::npos);
  // All Resources (100 100 75) is blocked at its only point below the
  // ceiling by Crew Time (75 50 75), which is labelled at its first point.
  EXPECT_NE(body.find("0 0 0 setrgbcolor\n0 75 (Crew Time) drawLabel\n"
                      "newpath\n"),
            std::string::npos);
}

TEST_F(DocumentTest, GapsInSelectednumMovePointsLeft) {
  defaultPlan_ = {{"TALLYPLOT_PLAN", ""}};  // empty is unset
  DataSet data(fixedColumns());
  data.addGroup(1, 4);
  data.addGroup(2, 4, {{"any_exceeded_inc", 1}});
  data.addGroup(4, 4, {{"any_exceeded_inc", 2}});
  data.addGroup(10, 4, {{"any_exceeded_inc", 3}});
  load(data);
  createSums();
  const std::string body = runAndCheck(fixedSeries(data), {});
  EXPECT_NE(body.find("0.627 0.627 0.976 setrgbcolor (square) 0 [ 100 75 50 "
                      "25  ] drawLine\n"),
            std::string::npos);
  EXPECT_NE(body.find("[ (100) (75) (50) (25) ]\n"), std::string::npos);
}

// A group whose column is NULL throughout gives 100; a later group larger
// than the first gives values below 0, written unclamped.
TEST_F(DocumentTest, NullGroupAndLargerLaterGroup) {
  DataSet data(fixedColumns());
  data.addGroup(1, 3, {{"stowage_xcd", 1}, {"energy_xcd", 2}});
  data.addGroup(2, 3);
  for (size_t r = 3; r < 6; ++r) data.set(r, "stowage_xcd", kNull);
  data.addGroup(3, 9, {{"energy_xcd", 9}, {"upmass_xcd", 6}});
  data.add(3, {{"energy_xcd", 2}});  // a flag of 2 counts twice
  load(data);
  createSums();
  const std::string body = runAndCheck(fixedSeries(data), {});
  EXPECT_NE(body.find("0.718 0.035 0.035 setrgbcolor (cross) 0 [ 66.6667 100 "
                      "100  ] drawLine\n"),
            std::string::npos);
  EXPECT_NE(body.find("0 0.424 0 setrgbcolor (circle) 0 [ 33.3333 100 -266.667 "
                      " ] drawLine\n"),
            std::string::npos);
  EXPECT_NE(body.find("[ (100) (100) (-100) ]\n"), std::string::npos);
}

// Flag columns of every type: the one-pass plan sums the small integers as
// doubles and every other type exactly (a BIGINT near 2^62 would round as
// a double), matching column names without regard to case; both plans
// write the same bytes.
TEST_F(DocumentTest, FlagColumnsOfEveryType) {
  struct Column {
    const char* name;
    const char* type;
    std::vector<const char*> values;  // cycled through the rows
    bool asDouble;
  };
  const std::vector<Column> columns = {
      {"any_exceeded_inc", "TINYINT", {"0", "1", "-3", "127"}, true},
      {"crewtrng_xcd", "TINYINT UNSIGNED", {"1", "0", "255"}, true},
      {"crewtime_xcd", "BIT(1)", {"b'1'", "b'0'"}, true},
      {"upmass_xcd", "SMALLINT", {"0", "-300", "32767", "1"}, true},
      {"keepalive_xcd", "SMALLINT UNSIGNED", {"65535", "0", "1"}, true},
      {"stowage_xcd", "BIT(16)", {"65535", "0", "1"}, true},
      {"middecks_xcd", "BIT(17)", {"131071", "1", "0"}, false},
      {"energy_xcd", "BOOLEAN", {"0", "1", "NULL"}, true},
      {"energy_crewtend_xcd", "INT", {"1", "0", "-2000000000"}, false},
      {"acoustics_xcd", "BIGINT", {"0", "1", "9007199254740993"}, false},
      {"acoustics_crewtend_xcd",
       "DECIMAL(9,3)",
       {"0.125", "0", "1.5", "-0.001"},
       false},
      {"MTL_xcd", "DOUBLE", {"0.1", "0", "1e-3"}, false},
      {"MTL_crewtend_xcd", "VARCHAR(20)", {"'0.25'", "'1'", "'0'"}, false},
      {"LTL_xcd", "MEDIUMINT", {"1", "0"}, false},
      {"LTL_crewtend_xcd", "FLOAT", {"0.1", "1"}, false},
      {"near_xcd", "BIGINT", {"4611686018427388604"}, false},  // 2^62 + 700
      {"shout_xcd", "TINYINT", {"1", "0", "0"}, true},
  };
  std::string create =
      std::string("CREATE TABLE ") + kTable + " (idx INT, selectednum INT";
  for (const Column& c : columns)
    create += ", `" + std::string(c.name) + "` " + c.type;
  std::string insert = std::string("INSERT INTO ") + kTable + " VALUES ";
  for (int i = 0; i < 12; ++i) {
    insert += (i ? ",(" : "(") + std::to_string(i + 1) + "," +
              std::to_string(i / 3 + 1);
    for (size_t c = 0; c < columns.size(); ++c) {
      const std::vector<const char*>& v = columns[c].values;
      insert += std::string(",") + v[(i + c) % v.size()];
    }
    insert += ")";
  }
  outdb_->exec(create + ")");
  outdb_->exec(insert);
  createSums();
  addSums({{"1", "Near 2^62", "near", "0", "0", "0", "cross"},
           {"1", "Shout", "SHOUT", "1", "0", "0", "plus"}});
  std::vector<std::string> statementColumns = fixedColumns();
  const std::vector<std::string> extra = extraColumns();
  statementColumns.insert(statementColumns.end(), extra.begin(), extra.end());
  std::vector<std::string> asDouble;
  for (const std::string& name : statementColumns) {
    for (const Column& c : columns) {
      if (strcasecmp(name.c_str(), c.name) == 0 && c.asDouble) {
        asDouble.push_back(name);
      }
    }
  }
  ASSERT_EQ(asDouble.size(), 8u);
  runBothPlans(onePassQuery(table_, extra, asDouble));
}

// An account granted only the columns the chart reads gets the one-pass
// plan too: its probe of the column types names just those columns.
TEST_F(DocumentTest, ColumnGrantsKeepTheOnePassPlan) {
  std::vector<std::string> columns = fixedColumns();
  columns.push_back("private_note");
  DataSet data(columns);
  data.addGroup(1, 2);
  data.addGroup(2, 2, {{"crewtime_xcd", 1}});
  load(data);
  createSums();
  std::string granted = "idx, selectednum";
  for (const std::string& c : fixedColumns()) granted += ", " + c;
  user_ = outdb_->name();
  password_ = "columns";
  const std::string account = "'" + user_ + "'@'127.0.0.1'";
  test_support::execSql("CREATE USER " + account + " IDENTIFIED BY '" +
                        password_ + "'; GRANT SELECT (" + granted + ") ON `" +
                        outdb_->name() + "`." + kTable + " TO " + account +
                        "; GRANT SELECT ON `" + datadb_->name() + "`.sums TO " +
                        account);
  runAndCheck(fixedSeries(data), {});
  test_support::execSql("DROP USER " + account);
}

// Names with parentheses and backslashes, a NULL name and NULL or empty
// outputfield values still give a document that renders.
TEST_F(DocumentTest, AwkwardNamesAreEscapedAndRender) {
  std::vector<std::string> columns = fixedColumns();
  columns.insert(columns.end(), {"a_xcd", "b_xcd", "c_xcd", "_xcd"});
  DataSet data(columns);
  data.addGroup(1, 4);
  data.addGroup(2, 4, {{"a_xcd", 1}, {"b_xcd", 2}, {"c_xcd", 3}});
  load(data);
  createSums();
  addSums({
      {"1", "Odd (open", "a", "1", "0", "0", "circle"},
      {"1", "Close) \\ back", "b", "0", "1", "0", "square"},
      {"1", "Bal (x)", "c", "0", "0", "1", "diamond"},
      {"1", nullptr, nullptr, "0", "0", "0", "plus"},
      {"1", "Empty field", "", "0", "0", "0", "plus"},
  });
  std::vector<Series> series = fixedSeries(data);
  series.push_back({"Odd (open", "1 0 0", "circle", data.points("a_xcd")});
  series.push_back({"Close) \\ back", "0 1 0", "square", data.points("b_xcd")});
  series.push_back({"Bal (x)", "0 0 1", "diamond", data.points("c_xcd")});
  series.push_back({"", "0 0 0", "plus", data.points("_xcd")});
  series.push_back({"Empty field", "0 0 0", "plus", data.points("_xcd")});
  const std::string body = runAndCheck(
      series, {"Odd (open", "Close) \\ back", "Bal (x)", "", "Empty field"});
  EXPECT_NE(body.find("0 0 0 setrgbcolor\n"
                      "1 75 (Odd \\(open) drawLabel\n"
                      "1 50 (Close\\) \\\\ back) drawLabel\n"
                      "1 25 (Bal \\(x\\)) drawLabel\n"
                      "newpath\n"),
            std::string::npos);
  EXPECT_NE(body.find(" (Crew-tended LTL)\n (Odd \\(open)\n"
                      " (Close\\) \\\\ back)\n (Bal \\(x\\))\n ()\n"
                      " (Empty field)\n] tableColumn\n"),
            std::string::npos);
}

// A flag column holding a huge number gives a point whose page coordinate
// no PostScript interpreter can compute, or, for a circle glyph, one that
// Ghostscript cannot draw an arc around at print resolutions: the run fails
// instead of writing a document that stops with an error. Other glyphs are
// drawn there.
TEST_F(DocumentTest, UndrawableValueEndsTheRun) {
  struct Case {
    const char* column;      // set in one row of the second group of two
    const char* flag;        // giving the value 100 - 50 * flag
    std::string diagnostic;  // empty: the run completes and renders
  };
  const std::vector<Case> cases = {
      {"crewtime_xcd", "1e300",
       "Value -5e+301 of series \"Crew Time\" cannot be drawn\n"},
      {"crewtime_xcd", "-1e300",
       "Value 5e+301 of series \"Crew Time\" cannot be drawn\n"},
      {"crewtime_xcd", "2002", ""},
      {"crewtime_xcd", "2003",
       "Value -100050 of series \"Crew Time\" cannot be drawn\n"},
      {"LTL_crewtend_xcd", "2003",
       "Value -100050 of series \"Crew-Tended LTL\" cannot be drawn\n"},
      {"any_exceeded_inc", "2003", ""},
  };
  DataSet data(fixedColumns());
  data.addGroup(1, 2);
  data.addGroup(2, 2);
  load(data);
  outdb_->exec(std::string("ALTER TABLE ") + kTable +
               " MODIFY crewtime_xcd DOUBLE");
  createSums();
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.column) + " = " + c.flag);
    outdb_->exec(std::string("UPDATE ") + kTable +
                 " SET crewtime_xcd = 0, LTL_crewtend_xcd = 0, "
                 "any_exceeded_inc = 0; UPDATE " +
                 kTable + " SET " + c.column + " = " + c.flag +
                 " WHERE selectednum = 2 LIMIT 1");
    if (!c.diagnostic.empty()) {
      runAndExpectFailure(c.diagnostic, true);
      continue;
    }
    const std::string path = dir_.file("drawn.eps");
    ProcessResult result = run(path);
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_TRUE(test_support::renderWithGhostscript(path).ok);
  }
}

// More groups than a circle glyph can be drawn across at print resolutions
// end the run too (the fixed series always include circles); as many as
// can be drawn give the same document whether the scan is split or not.
TEST_F(DocumentTest, TooManyGroupsForACircleEndTheRun) {
  createSums();
  for (const int groups : {30000, 30001}) {
    SCOPED_TRACE(std::to_string(groups) + " groups");
    outdb_->exec(splittableTable("INT", "seq", groups, "seq"));
    if (groups > 30000) {
      runAndExpectFailure(
          "Series \"Crew Time\" has 30001 points, more than "
          "the 30000 that can be drawn\n",
          false);
      continue;
    }
    const std::string path = dir_.file("drawn.eps");
    ProcessResult result = run(path);
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_EQ(test_support::renderWithGhostscript(path).pages, 2);
    const std::string split = dir_.file("split.eps");
    EXPECT_EQ(run(split, {{"TALLYPLOT_JOBS", "8"}}).status, 0);
    EXPECT_EQ(rangesRead(statements()).size(), 32u);
    EXPECT_TRUE(test_support::readFile(split) == test_support::readFile(path));
  }
}

// Tables that change between two statements (here: table expressions over
// the number of statements the session has sent). A group more or less
// gives the per-series plan series of different lengths, which no document
// can show. The one statement of the one-pass plan sees one state of the
// table, and what it sees is what it reports.
TEST_F(DocumentTest, TablesThatChangeDuringTheRun) {
  DataSet data(fixedColumns());
  for (int group = 1; group <= 20; ++group) data.addGroup(group, 2);
  load(data);
  createSums();
  addSums({{"1", "Late", "late", "0", "0", "0", "plus"}});
  // The statements the session has sent after setting itself up.
  const std::string sent =
      "(select variable_value - 1 from information_schema.session_status "
      "where variable_name = 'QUESTIONS')";
  const std::string changed = "; the data table changed during the run\n";
  struct Case {
    const char* name;
    std::string groups;     // which rows a statement sees
    std::string late;       // the late_xcd it sees
    std::string perSeries;  // the diagnostic of each plan; empty: complete
    std::string onePass;
  };
  const std::vector<Case> cases = {
      {"a group more per statement", "selectednum <= " + sent, "0",
       "Series \"Crew Training\" has 3 points, the first series has 2" +
           changed,
       ""},
      {"a group less for the sums series",
       "selectednum <= if(" + sent + " >= 17, 1, 2)", "0",
       "Series \"Late\" has 1 points, the first series has 2" + changed, ""},
      {"an undrawable value for the one-pass statement only",
       "selectednum <= 2", "if(" + sent + " <= 2, 1e300, 0)", "",
       "Value -1e+302 of series \"Late\" cannot be drawn\n"},
  };
  const std::map<std::string, std::string> perSeriesPlan = {
      {"TALLYPLOT_PLAN", "per-series"}};
  const std::map<std::string, std::string> onePassPlan = {
      {"TALLYPLOT_PLAN", ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    table_ = std::string("(select ") + kTable + ".*, " + c.late +
             " as late_xcd from " + kTable + " where " + c.groups + ") as t";
    for (const auto& [env, diagnostic] :
         {std::make_pair(perSeriesPlan, c.perSeries),
          std::make_pair(onePassPlan, c.onePass)}) {
      if (!diagnostic.empty()) {
        runAndExpectFailure(diagnostic, true, env);
        continue;
      }
      const std::string path = dir_.file("complete.eps");
      ProcessResult result = run(path, env);
      EXPECT_EQ(result.status, 0) << result.out << result.err;
      EXPECT_TRUE(test_support::renderWithGhostscript(path).ok);
    }
  }
}

// A statement the server stops while it runs ends the run with the
// server's words for it, and nothing more is sent: here a DBA's KILL QUERY
// on the aggregate, and an account whose statements may run half a second.
TEST_F(DocumentTest, StoppedStatementEndsTheRun) {
  DataSet data(fixedColumns());
  data.addGroup(1, 8);
  load(data);
  createSums();
  table_ = std::string("(select * from ") + kTable +
           " where sleep(0.5) = 0) as t";  // 4 s to scan
  const std::string aggregate = onePassQuery(table_, {});
  const std::string capped = "capped_" + outdb_->name();
  const std::string account = "'" + capped + "'@'127.0.0.1'";
  test_support::execSql("CREATE USER " + account +
                        " IDENTIFIED BY 'wqzk' WITH MAX_STATEMENT_TIME 0.5; "
                        "GRANT SELECT ON *.* TO " +
                        account);
  const std::string timeout = " (max_statement_time exceeded)";
  struct Case {
    const char* name;
    std::string user;
    bool killed;            // by KILL QUERY from another session
    std::string statement;  // the one stopped
    std::string error;
  };
  const Case cases[] = {
      {"KILL QUERY", "root", true, aggregate, ""},
      {"max_statement_time", capped, false, aggregate, timeout},
      {"max_statement_time on sums", capped, false, kSumsQuery, timeout},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    user_ = c.user;
    if (c.statement == kSumsQuery) {  // a slow sums statement
      datadb_->exec(
          "RENAME TABLE sums TO rows_; CREATE VIEW sums AS SELECT * FROM "
          "rows_ WHERE sleep(1) = 0; INSERT INTO rows_ (increment) VALUES (1)");
    }
    std::thread killer([&] {
      for (int i = 0; c.killed && i < 1500; ++i) {
        const auto rows = test_support::queryRows(
            "SELECT id FROM information_schema.processlist WHERE info = '" +
            aggregate + "'");
        if (!rows.empty())
          return test_support::execSql("KILL QUERY " + rows[0][0]);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    });
    runAndExpectFailure(
        queryFailure("Query execution was interrupted" + c.error, c.statement),
        false, {{"TALLYPLOT_PLAN", ""}});
    killer.join();
    EXPECT_EQ(statements().back(), c.statement) << "sent after it was stopped";
  }
  test_support::execSql("DROP USER " + account);
}

// Names beyond ASCII are drawn as written where Latin-1 has them, as '?'
// otherwise (a zero byte too), on both pages; the fonts are re-encoded
// first, and only for such names.
TEST_F(DocumentTest, AccentedNamesAreDrawnAsWritten) {
  std::vector<std::string> columns = fixedColumns();
  columns.insert(columns.end(), {"a_xcd", "b_xcd", "\u00e9t\u00e9_xcd"});
  DataSet data(columns);
  data.addGroup(1, 2);
  data.addGroup(2, 2, {{"a_xcd", 1}, {"\u00e9t\u00e9_xcd", 2}});
  load(data);
  createSums(
      "increment INT, name VARCHAR(100) CHARACTER SET utf8mb4, outputfield "
      "VARCHAR(100) CHARACTER SET utf8mb4, red VARCHAR(40), green "
      "VARCHAR(40), blue VARCHAR(40), symbol VARCHAR(40)");
  addSums({{"1", "R\u00e9sum\u00e9 Gr\u00f6\u00dfe \u00dcber", "a", "0", "0",
            "0", "plus"},
           {"1", "\u20acuro\u2026", "b", "0", "0", "0", "cross"},
           {"1", "Z\u00fcrich X\u672c\u672cY", "b", "0", "0", "0", "plus"},
           {"1", "A-B", "b", "0", "0", "0", "plus"}});
  datadb_->exec(
      "UPDATE sums SET name = concat('A', char(0), 'B') WHERE "
      "name = 'A-B'");
  const std::string doc = runBothPlans(onePassQuery(table_, extraColumns()));
  const std::string body = doc.substr(std::strlen(kPrologue));
  const std::string written =
      "R\xe9sum\xe9 Gr\xf6\xdf"
      "e \xdc"
      "ber";
  EXPECT_EQ(body.rfind("/Times-Roman findfont", 0), 0u);
  EXPECT_NE(body.find("1 50 (" + written + ") drawLabel\n"), std::string::npos);
  EXPECT_NE(body.find(" (" + written +
                      ")\n (?uro?)\n (Z\xfcrich X??Y)\n"
                      " (A?B)\n] tableColumn"),
            std::string::npos);
  const std::string drawn =
      test_support::ghostscriptText(dir_.file("chart.eps"));
  const std::string text = "R\u00e9sum\u00e9 Gr\u00f6\u00dfe \u00dcber";
  const size_t label = drawn.find(text);
  EXPECT_NE(label, std::string::npos) << drawn;
  EXPECT_NE(drawn.find(text, label + 1), std::string::npos) << "page 2";
  EXPECT_NE(drawn.find("?uro?"), std::string::npos) << drawn;
  EXPECT_NE(drawn.find("Crew-tended LTL"), std::string::npos) << "hyphen";
  // The PDF keeps the same text, as text.
  const std::string pdf = dir_.file("chart.pdf");
  ProcessResult result = run(pdf);
  EXPECT_EQ(result.status, 0) << result.out << result.err;
  EXPECT_EQ(test_support::renderWithGhostscript(pdf).pages, 2);
  EXPECT_EQ(test_support::ghostscriptText(pdf), drawn);
  // Session settings a DBA or the option file chose change nothing: the
  // texts arrive in UTF-8 whatever set the connection sends its statements
  // in (sjis and cp932 put ASCII bytes into characters, swe7 letters where
  // ASCII has punctuation), and every row arrives.
  const std::string defaults = dir_.file("session.cnf");
  auto runWith = [&](const std::string& options, const std::string& plan) {
    test_support::writeFile(defaults, "[client]\n" + options + "\n");
    const std::string path = dir_.file("session.eps");
    ProcessResult result = run(path, {{"TALLYPLOT_DEFAULTS_FILE", defaults},
                                      {"TALLYPLOT_PLAN", plan}});
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    return test_support::readFile(path);
  };
  for (const char* options :
       {"init-command=SET SESSION character_set_results=latin1",
        "init-command=SET SESSION character_set_results=NULL",
        "init-command=SET SESSION character_set_results=utf16",
        "init-command=SET SESSION sql_select_limit=1",
        "default-character-set=sjis", "default-character-set=cp932",
        "default-character-set=swe7", "default-character-set=latin1",
        "default-character-set=koi8r", "default-character-set=binary"}) {
    for (const char* plan : {"", "per-series"}) {
      SCOPED_TRACE(std::string(options) + " " + plan);
      EXPECT_TRUE(runWith(options, plan) == doc) << "another document";
    }
  }
  // A column name beyond ASCII reaches the statements in their own set.
  addSums({{"1", "\u00c9t\u00e9", "\u00e9t\u00e9", "0", "0", "0", "plus"}});
  const std::string accented = runWith("", "");
  EXPECT_NE(accented.find("(\xc9t\xe9)"), std::string::npos);
  for (const char* plan : {"", "per-series"}) {
    SCOPED_TRACE(plan);
    EXPECT_TRUE(runWith("default-character-set=latin1", plan) == accented)
        << "another document";
  }
}

// The scan split into ranges of the primary key on 2 to 8 connections gives
// the document of the one statement byte for byte, whatever idx holds; the
// ranges, both bounds written out and the last one included, cover idx
// from its least to its greatest value without a gap or an overlap, more of
// them than connections.
TEST_F(DocumentTest, SplitScanGivesTheSameDocument) {
  struct Layout {
    const char* name;
    const char* idxType;  // null: the demo data
    std::string idx;      // of seq
    int rows;
    const char* group;  // of seq
  };
  const Layout layouts[] = {
      {"gaps", "INT", "seq * seq", 300, "seq % 7"},
      {"negative values", "INT", "cast(seq as signed) - 150", 300, "seq % 5"},
      {"INT limits", "INT",
       "elt(seq, -2147483648, -2147483647, 0, 2147483646, 2147483647)", 5,
       "seq % 2"},
      {"BIGINT limits", "BIGINT",
       "elt(seq, -9223372036854775808, -9223372036854775807, 0, "
       "9223372036854775806, 9223372036854775807)",
       5, "seq % 2"},
      {"BIGINT UNSIGNED limits", "BIGINT UNSIGNED",
       "elt(seq, 0, 1, 18446744073709551614, 18446744073709551615)", 4,
       "seq % 2"},
      {"one row", "INT", "42", 1, "1"},
      {"every row in one range", "INT", "if(seq = 100, 1000000000, seq)", 100,
       "seq % 3"},
      {"demo data", nullptr, "", 0, ""},
  };
  createSums();
  for (const Layout& layout : layouts) {
    SCOPED_TRACE(layout.name);
    if (layout.idxType != nullptr) {
      outdb_->exec(splittableTable(layout.idxType, layout.idx, layout.rows,
                                   layout.group));
    } else {
      test_support::execSql(demoSql(outdb_->name(), datadb_->name()));
      table_ = "fleen";
    }
    std::vector<std::string> asDouble = fixedColumns();
    for (const std::string& c : extraColumns()) asDouble.push_back(c);
    const std::string doc =
        runBothPlans(onePassQuery(table_, extraColumns(), asDouble));
    const auto bounds =
        test_support::queryRows("SELECT min(idx), max(idx) FROM `" +
                                outdb_->name() + "`." + table_)
            .at(0);
    const __int128 least = wide(bounds[0]), greatest = wide(bounds[1]);
    for (int jobs = 2; jobs <= 8; ++jobs) {
      SCOPED_TRACE(std::to_string(jobs) + " connections");
      const std::string path = dir_.file("split.eps");
      ProcessResult result =
          run(path, {{"TALLYPLOT_JOBS", std::to_string(jobs)}});
      EXPECT_EQ(result.status, 0) << result.out << result.err;
      EXPECT_TRUE(test_support::readFile(path) == doc) << "another document";
      const std::vector<IdxRange> ranges = rangesRead(statements());
      ASSERT_FALSE(ranges.empty());
      EXPECT_TRUE(ranges.front().first == least);
      EXPECT_TRUE(ranges.back().second == greatest);
      for (size_t r = 1; r < ranges.size(); ++r) {
        EXPECT_TRUE(ranges[r].first == ranges[r - 1].second + 1) << r;
      }
      EXPECT_TRUE(ranges.size() ==
                  std::min<__int128>(greatest - least + 1, 4 * jobs));
    }
  }
}

// The scan is split only by a primary key idx, every summed column a small
// integer, and, when the server allows fewer connections, on those it has
// (max_user_connections 3: one more); otherwise a run sends what one
// connection sends, asking for the key only where the columns cannot tell.
TEST_F(DocumentTest, ScanSplitOnlyByThePrimaryKey) {
  struct Case {
    const char* name;
    std::string change;  // to runs, whose primary key is idx
    std::string table;   // the table argument
    int limit;           // the account's max_user_connections; 0: none
    bool keyAsked;       // show index sent
    int connections;     // those the ranges were read on; 0: not split
  };
  const std::string quoted = "`" + outdb_->name() + "`.`runs`";
  const Case cases[] = {
      {"the primary key", "", "runs", 0, true, 4},
      {"a database and backquotes", "", quoted, 0, true, 4},
      {"a table expression", "", "(select * from runs) as t", 0, false, 0},
      {"a view", "CREATE VIEW v AS SELECT * FROM runs", "v", 0, true, 0},
      {"idx second in the primary key",
       "ALTER TABLE runs DROP PRIMARY KEY, ADD PRIMARY KEY (selectednum, idx)",
       "runs", 0, true, 0},
      {"idx indexed, not the primary key",
       "ALTER TABLE runs DROP PRIMARY KEY, ADD KEY (idx)", "runs", 0, false, 0},
      {"idx not an integer", "ALTER TABLE runs MODIFY idx DECIMAL(12)", "runs",
       0, false, 0},
      {"selectednum not an integer",
       "ALTER TABLE runs MODIFY selectednum DECIMAL(5, 1)", "runs", 0, false,
       0},
      {"a DECIMAL flag", "ALTER TABLE runs MODIFY MTL_xcd DECIMAL(3)", "runs",
       0, false, 0},
      {"a FLOAT flag", "ALTER TABLE runs MODIFY MTL_xcd FLOAT", "runs", 0,
       false, 0},
      {"max_user_connections 2", "", "runs", 2, true, 0},
      {"max_user_connections 3", "", "runs", 3, true, 2},
  };
  createSums();
  const std::string account = "'" + outdb_->name() + "'@'127.0.0.1'";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    outdb_->exec(splittableTable("INT", "seq * 3", 200, "seq % 4"));
    if (!c.change.empty()) outdb_->exec(c.change);
    table_ = c.table;
    user_ = c.limit == 0 ? "root" : outdb_->name();
    test_support::execSql(
        "DROP USER IF EXISTS " + account + "; CREATE USER " + account +
        " IDENTIFIED BY 'wqzk' WITH MAX_USER_CONNECTIONS " +
        std::to_string(c.limit) + "; GRANT SELECT ON *.* TO " + account);
    const std::string one = dir_.file("one.eps"),
                      split = dir_.file("split.eps");
    EXPECT_EQ(run(one).status, 0);
    const std::vector<std::string> expected = statements();
    ProcessResult result = run(split, {{"TALLYPLOT_JOBS", "4"}});
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_TRUE(test_support::readFile(split) == test_support::readFile(one));
    std::vector<std::string> sent = statements();
    if (c.keyAsked) {
      ASSERT_GT(sent.size(), 4u);
      EXPECT_EQ(sent[4].rfind("select (select engine from "
                              "information_schema.tables where ",
                              0),
                0u)
          << sent[4];
      sent.erase(sent.begin() + 4);
    }
    if (c.connections == 0) {
      EXPECT_EQ(sent, expected);
    } else {
      EXPECT_EQ(rangesRead(sent).size(), 4u * c.connections);
    }
  }
  test_support::execSql("DROP USER " + account);
}

// A run that must fail: its sums rows, the diagnostic, and where its
// tables differ from the fixture's.
struct FailingRun {
  const char* name;
  std::vector<SumsRow> rows;
  std::string diagnostic;
  const char* table = "runs";  // the table argument
  std::string change = "";     // run on the data database after the rows
  std::string session = "";    // the option file's init-command
};

// Every check ends the run with its own diagnostic, in the order the series
// are read: the group size, the fixed series, then for each sums row its
// column name, its series query, its colour and glyph.
TEST_F(DocumentTest, FailingRuns) {
  std::vector<std::string> columns = fixedColumns();
  columns.push_back("power_xcd");
  DataSet data(columns);
  data.addGroup(1, 2, {{"power_xcd", 1}});
  load(data);
  outdb_->exec(std::string("CREATE TABLE empty LIKE ") + kTable +
               "; CREATE TABLE nulls SELECT * FROM " + kTable +
               "; UPDATE nulls SET idx = NULL; CREATE TABLE nolast SELECT * "
               "FROM " +
               kTable +
               "; ALTER TABLE nolast DROP LTL_crewtend_xcd; CREATE "
               "TABLE noidx SELECT * FROM " +
               kTable + "; ALTER TABLE noidx DROP idx");
  auto failed = [&](const std::string& db, const std::string& query) {
    return queryFailure(serverError(db, query), query);
  };
  auto noField = [](const std::string& field) {
    return "No field \"" + field + "\" in \"" + kSumsQuery + "\"\n";
  };
  const SumsRow fine = {"1", "Fine", "power", "0", "0", "1", "plus"};
  const SumsRow upmass = {"1", "S", "upmass", "0", "0", "0", "circle"};
  const std::vector<FailingRun> cases = {
      {"missing sums table",
       {},
       failed(datadb_->name(), kSumsQuery),
       kTable,
       "DROP TABLE sums"},
      {"empty data table",
       {},
       "No rows in query \"" + groupQuery("empty") + "\n",
       "empty"},
      {"group size 0",
       {},
       "Group size is 0 in query \"" + groupQuery("nulls") + "\"\n",
       "nulls"},
      {"missing idx column",
       {},
       failed(outdb_->name(), groupQuery("noidx")),
       "noidx"},
      {"missing fixed column",
       {},
       failed(outdb_->name(), pointsQuery("nolast", "LTL_crewtend_xcd")),
       "nolast"},
      {"no symbol column",
       {upmass},
       noField("symbol"),
       kTable,
       "ALTER TABLE sums DROP symbol"},
      {"Name instead of name",
       {upmass},
       noField("name"),
       kTable,
       "ALTER TABLE sums CHANGE name Name TEXT"},
      {"no blue column",
       {upmass},
       noField("blue"),
       kTable,
       "ALTER TABLE sums DROP blue"},
      {"unknown glyph",
       {fine, {"1", "Hex", "power", "0", "0", "0", "hexagon"}},
       "Unknown symbol \"hexagon\" for series \"Hex\"\n"},
      {"glyph in other case",
       {fine, {"1", "Big (C)", "power", "0", "0", "0", "Circle"}},
       "Unknown symbol \"Circle\" for series \"Big (C)\"\n"},
      {"glyph running code",
       {fine,
        {"1", "Run", "power", "0", "0", "0", "circle) cvx exec (erasepage"}},
       "Unknown symbol \"circle) cvx exec (erasepage\" for series \"Run\"\n"},
      {"NULL glyph",
       {fine, {"1", "NoGlyph", "power", "0", "0", "0", nullptr}},
       "Unknown symbol \"\" for series \"NoGlyph\"\n"},
      {"NULL colour component",
       {fine, {"1", "Col", "power", "1", nullptr, "0", "circle"}},
       "Invalid colour \"1  0\" for series \"Col\"\n"},
      {"colour running code",
       {fine,
        {"1", "Code", "power", "1 0 0 setrgbcolor erasepage", "0", "0",
         "circle"}},
       "Invalid colour \"1 0 0 setrgbcolor erasepage 0 0\" for series "
       "\"Code\"\n"},
      {"colour beyond PostScript reals",
       {fine, {"1", "Big", "power", "1e999", "0", "0", "circle"}},
       "Invalid colour \"1e999 0 0\" for series \"Big\"\n"},
      {"colour in hex",
       {fine, {"1", "Hx", "power", "0", "0x1", "0", "circle"}},
       "Invalid colour \"0 0x1 0\" for series \"Hx\"\n"},
      {"injected column name",
       {fine, {"1", "Inj", "power) from runs; -- ", "0", "0", "0", "circle"}},
       "Invalid output field \"power) from runs; -- \" for series \"Inj\"\n"},
      {"column name with a space",
       {fine, {"1", "Sp", "no such", "0", "0", "0", "circle"}},
       "Invalid output field \"no such\" for series \"Sp\"\n"},
      {"expression as a column name",
       {fine, {"1", "Expr", "upmass_xcd+crewtime", "0", "0", "0", "circle"}},
       "Invalid output field \"upmass_xcd+crewtime\" for series \"Expr\"\n"},
      {"zero byte in a column name",
       {fine, {"1", "Nul", "x", "0", "0", "0", "circle"}},
       "Invalid output field \"stowage" + std::string(1, '\0') +
           "junk\" for series \"Nul\"\n",
       kTable,
       "UPDATE sums SET outputfield = concat('stowage', char(0), 'junk') "
       "WHERE name = 'Nul'"},
      {"column name with a backtick and NULL name",
       {fine, {"1", nullptr, "a`b", "0", "0", "0", "circle"}},
       "Invalid output field \"a`b\" for series \"\"\n"},
      {"bad column name before bad glyph",
       {{"1", "A", "bad name", "0", "0", "0", "hexagon"}},
       "Invalid output field \"bad name\" for series \"A\"\n"},
      {"series query before glyph check",
       {{"1", "B", "missing", "0", "0", "0", "hexagon"}},
       failed(outdb_->name(), pointsQuery(kTable, "missing_xcd"))},
      {"series query before colour check",
       {{"1", "C", "missing", "red", "0", "0", "circle"}},
       failed(outdb_->name(), pointsQuery(kTable, "missing_xcd"))},
      {"more rows to read than max_join_size",
       {fine},
       queryFailure("The SELECT would examine more than MAX_JOIN_SIZE rows; "
                    "check your WHERE and use SET SQL_BIG_SELECTS=1 or SET "
                    "MAX_JOIN_SIZE=# if the SELECT is okay",
                    groupQuery(kTable)),
       kTable,
       "",
       "SET SESSION sql_big_selects=0, max_join_size=1"},
  };
  bool preexisting = false;
  for (const FailingRun& c : cases) {
    SCOPED_TRACE(c.name);
    datadb_->exec("DROP TABLE IF EXISTS sums");
    createSums();
    addSums(c.rows);
    if (!c.change.empty()) datadb_->exec(c.change);
    table_ = c.table;
    const std::string defaults = dir_.file("session.cnf");
    test_support::writeFile(defaults,
                            "[client]\ninit-command=" + c.session + "\n");
    runAndExpectFailure(c.diagnostic, preexisting = !preexisting,
                        c.session.empty()
                            ? std::map<std::string, std::string>{}
                            : std::map<std::string, std::string>{
                                  {"TALLYPLOT_DEFAULTS_FILE", defaults}});
  }
}

}  // namespace
