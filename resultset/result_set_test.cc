// Tests of ResultSet against the real test server: the cursor on 0, 1 and 3
// rows, the query text builder, field access, copies and assignment, and
// (through the resultset_probe subprocess) every diagnostic with its exact
// text, stream and exit status.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "resultset.h"
#include "test_support.h"

namespace {

using test_support::ScratchDatabase;

const char kThree[] = "select id, name, note from three order by id";
const char kOne[] = "select id, name, note from one";
const char kNone[] = "select id, name, note from none";

// A scratch database holding tables of 3, 1 and 0 rows, and a connection
// to it opened through the query layer.
class ResultSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(test_support::serverPort(), 0);
    test_support::useTestServer();
    db_ = std::make_unique<ScratchDatabase>("rs");
    db_->exec(
        "CREATE TABLE three (id INT, name VARCHAR(20), note VARCHAR(20));"
        "INSERT INTO three VALUES (1, 'one', NULL), (2, 'two', ''),"
        " (3, 'three', '12.5%');"
        "CREATE TABLE one LIKE three; INSERT INTO one VALUES (7, 'seven', 'x');"
        "CREATE TABLE none LIKE three");
    conn_ = ResultSet::makeConn("127.0.0.1", "root", "wqzk", db_->name());
  }

  MYSQL* conn() { return conn_.get(); }

  std::unique_ptr<ScratchDatabase> db_;
  Connection conn_;  // closed before the database is dropped
};

std::string text(const Variant& v) { return v; }

// Checks where a cursor stands and, on a row, that every way of reading
// the row agrees on its id.
void expectAt(const ResultSet& r, int position, const std::string& id) {
  EXPECT_EQ(r.tell(), position);
  if (position < 0) return;
  EXPECT_EQ(text(r.get(0)), id);
  EXPECT_EQ(text(r[0]), id);
  EXPECT_EQ(text(r.get("id")), id);
  EXPECT_EQ(text(r["id"]), id);
}

TEST_F(ResultSetTest, NewObjectHasNoResult) {
  ResultSet bare;
  EXPECT_EQ(bare.size(), 0);
  EXPECT_EQ(bare.tell(), -1);
  EXPECT_EQ(bare.print(), "");
  EXPECT_EQ(bare.getConn(), nullptr);
  EXPECT_FALSE(bare.prev());
  ResultSet onConn(conn());
  EXPECT_EQ(onConn.getConn(), conn());
  EXPECT_EQ(onConn.size(), 0);
  EXPECT_EQ(onConn.tell(), -1);
}

// One cursor operation and what it must give.
struct Step {
  enum Op { kNext, kPrev, kSeek, kRewind } op;
  int arg;         // row for kSeek
  bool returns;    // ignored for kRewind
  int position;    // tell() afterwards
  const char* id;  // the current row's id afterwards
};

// A named sequence of cursor operations on one query's result.
struct CursorScript {
  const char* name;
  const char* query;
  int size;
  std::vector<Step> steps;
};

const CursorScript kScripts[] = {
    {"three rows: walk past the end",
     kThree,
     3,
     {{Step::kNext, 0, true, 0, "1"},
      {Step::kNext, 0, true, 1, "2"},
      {Step::kNext, 0, true, 2, "3"},
      {Step::kNext, 0, false, 2, "3"},
      {Step::kNext, 0, false, 2, "3"}}},
    {"three rows: rewind makes row 0 current at once",
     kThree,
     3,
     {{Step::kRewind, 0, true, 0, "1"},
      {Step::kNext, 0, true, 1, "2"},
      {Step::kRewind, 0, true, 0, "1"}}},
    {"three rows: prev before the first row and on row 0",
     kThree,
     3,
     {{Step::kPrev, 0, false, -1, ""},
      {Step::kNext, 0, true, 0, "1"},
      {Step::kPrev, 0, false, 0, "1"}}},
    {"three rows: prev from row 2 back to row 0",
     kThree,
     3,
     {{Step::kSeek, 2, true, 2, "3"},
      {Step::kPrev, 0, true, 1, "2"},
      {Step::kPrev, 0, true, 0, "1"},
      {Step::kPrev, 0, false, 0, "1"}}},
    {"three rows: next after prev and seek",
     kThree,
     3,
     {{Step::kSeek, 2, true, 2, "3"},
      {Step::kPrev, 0, true, 1, "2"},
      {Step::kNext, 0, true, 2, "3"},
      {Step::kSeek, 0, true, 0, "1"},
      {Step::kNext, 0, true, 1, "2"},
      {Step::kSeek, 1, true, 1, "2"},
      {Step::kNext, 0, true, 2, "3"}}},
    {"three rows: back to the start after the end",
     kThree,
     3,
     {{Step::kNext, 0, true, 0, "1"},
      {Step::kNext, 0, true, 1, "2"},
      {Step::kNext, 0, true, 2, "3"},
      {Step::kNext, 0, false, 2, "3"},
      {Step::kSeek, 0, true, 0, "1"},
      {Step::kNext, 0, true, 1, "2"}}},
    {"one row",
     kOne,
     1,
     {{Step::kPrev, 0, false, -1, ""},
      {Step::kNext, 0, true, 0, "7"},
      {Step::kNext, 0, false, 0, "7"},
      {Step::kPrev, 0, false, 0, "7"},
      {Step::kRewind, 0, true, 0, "7"},
      {Step::kSeek, 0, true, 0, "7"},
      {Step::kNext, 0, false, 0, "7"}}},
    {"no rows", kNone, 0, {{Step::kPrev, 0, false, -1, ""}}},
};

bool apply(ResultSet& r, const Step& step) {
  switch (step.op) {
    case Step::kNext:
      return r.next();
    case Step::kPrev:
      return r.prev();
    case Step::kSeek:
      return r.seek(step.arg);
    case Step::kRewind:
      r.rewind();
      return true;
  }
  return false;
}

TEST_F(ResultSetTest, CursorFollowsEachScript) {
  for (const CursorScript& script : kScripts) {
    SCOPED_TRACE(script.name);
    ResultSet r(conn());
    r.query << script.query;
    r.store();
    EXPECT_EQ(r.size(), script.size);
    EXPECT_EQ(r.tell(), -1);
    for (size_t i = 0; i < script.steps.size(); ++i) {
      SCOPED_TRACE("step " + std::to_string(i));
      const Step& step = script.steps[i];
      EXPECT_EQ(apply(r, step), step.returns);
      expectAt(r, step.position, step.id);
    }
  }
}

TEST_F(ResultSetTest, EveryQueryStartsBeforeTheFirstRow) {
  ResultSet r(kThree, conn());
  r.seek(2);
  r.storeQuery(kOne);
  EXPECT_EQ(r.tell(), -1);
  EXPECT_EQ(r.size(), 1);
  ASSERT_TRUE(r.next());
  expectAt(r, 0, "7");
}

TEST_F(ResultSetTest, StatementWithoutColumnsKeepsThePreviousRowCount) {
  struct Case {
    const char* name;
    const char* before;
    const char* statement;
    int size;
  };
  const Case cases[] = {
      {"SET after three rows", kThree, "SET @a=1", 3},
      {"DO after three rows", kThree, "DO 1", 3},
      {"DO after one row", kOne, "DO 1", 1},
      {"SET after no rows", kNone, "SET @a=1", 0},
      {"DO on a new object", nullptr, "DO 1", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResultSet r(conn());
    if (c.before) {
      r.storeQuery(c.before);
      if (r.size() > 0) r.next();
    }
    r.storeQuery(c.statement);
    EXPECT_EQ(r.size(), c.size);
    EXPECT_EQ(r.tell(), -1);
    // A later query with columns replaces the count again.
    r.storeQuery("select 1 union all select 2");
    EXPECT_EQ(r.size(), 2);
  }
}

TEST_F(ResultSetTest, FieldValuesConvertLikeVariants) {
  struct Case {
    const char* column;
    std::string asText;
    double asDouble;
  };
  const Case cases[] = {
      {"nul", "", 0.0},       {"empty", "", 0.0},      {"letters", "abc", 0.0},
      {"pct", "12.5%", 12.5}, {"blank", " 7", 7.0},    {"expo", "1e2", 100.0},
      {"num", "42", 42.0},    {"neg", "-0.25", -0.25}, {"zero", "ab", 0.0},
  };
  ResultSet r(conn());
  r.query << "select NULL as nul, '' as empty, 'abc' as letters,"
             " '12.5%' as pct, ' 7' as blank, '1e2' as expo, 42 as num,"
             " -0.25 as neg, concat('ab', char(0), 'cd') as zero";
  r.store();
  ASSERT_TRUE(r.next());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.column);
    Variant v = r[c.column];
    EXPECT_EQ(text(v), c.asText);
    EXPECT_EQ(static_cast<double>(v), c.asDouble);
    std::ostringstream out;
    out << v;
    EXPECT_EQ(out.str(), c.asText);
  }
}

TEST_F(ResultSetTest, NullAndEmptyFieldsOfATable) {
  ResultSet r(kThree, conn());
  EXPECT_EQ(r.fieldNumber("id"), 0);  // no current row needed
  EXPECT_EQ(r.fieldNumber("note"), 2);
  ASSERT_TRUE(r.next());
  EXPECT_EQ(text(r["note"]), "");  // NULL
  EXPECT_EQ(static_cast<double>(r["note"]), 0.0);
  ASSERT_TRUE(r.next());
  EXPECT_EQ(text(r["note"]), "");  // empty text
  ASSERT_TRUE(r.next());
  EXPECT_EQ(static_cast<double>(r["note"]), 12.5);
}

TEST_F(ResultSetTest, NamesMatchExactlyAndTheFirstDuplicateWins) {
  ResultSet r("select 1 as a, 2 as a, 3 as A, 4 as `a `", conn());
  ASSERT_TRUE(r.next());
  EXPECT_EQ(r.fieldNumber("a"), 0);
  EXPECT_EQ(text(r.get("a")), "1");
  EXPECT_EQ(text(r.get(1)), "2");
  EXPECT_EQ(r.fieldNumber("A"), 2);
  EXPECT_EQ(text(r["A"]), "3");
  EXPECT_EQ(r.fieldNumber("a "), 3);
  EXPECT_EQ(text(r["a "]), "4");
}

TEST_F(ResultSetTest, ValuesOutliveCursorQueriesAndTheResultSet) {
  Variant first, second;
  {
    ResultSet r(kThree, conn());
    r.next();
    first = r["name"];
    r.next();
    second = r.get(1);
    r.storeQuery(kOne);
    r.next();
  }
  EXPECT_EQ(text(first), "one");
  EXPECT_EQ(text(second), "two");
}

TEST_F(ResultSetTest, PrintShowsTheBuilderWithoutRunningIt) {
  ResultSet r(conn());
  r.query << "select " << 1 << " as n";
  EXPECT_EQ(r.print(), "select 1 as n");
  EXPECT_EQ(r.print(), "select 1 as n");
  EXPECT_EQ(r.size(), 0);
  EXPECT_EQ(r.tell(), -1);
}

// One operation on the query text builder, and what print() and size()
// give after it.
struct BuilderStep {
  enum Op { kWrite, kStore, kStoreNoRes, kStoreQuery, kClear } op;
  const char* text;  // written, or run by kStoreQuery
  const char* print;
  int size;
};

TEST_F(ResultSetTest, BuilderFollowsEachScript) {
  using S = BuilderStep;
  struct Script {
    const char* name;
    const char* first;  // the first field the last text run gives
    std::vector<S> steps;
  };
  const Script scripts[] = {
      {"store runs and empties the builder",
       "7",
       {{S::kWrite, "select id from three", "select id from three", 0},
        {S::kStore, "", "", 3},
        {S::kWrite, "select id from one", "select id from one", 3},
        {S::kStore, "", "", 1}}},
      {"storeNoRes runs and keeps the text",
       "1",
       {{S::kWrite, "select 1", "select 1", 0},
        {S::kStoreNoRes, "", "select 1", 1},
        {S::kWrite, " union all select 2", "select 1 union all select 2", 1},
        {S::kStoreNoRes, "", "select 1 union all select 2", 2}}},
      {"clear empties the builder",
       "7",
       {{S::kWrite, "garbage that is never run", "garbage that is never run",
         0},
        {S::kClear, "", "", 0},
        {S::kWrite, "select id from one", "select id from one", 0},
        {S::kStore, "", "", 1}}},
      {"storeQuery leaves the builder alone",
       "7",
       {{S::kWrite, "select id", "select id", 0},
        {S::kStoreQuery, kThree, "select id", 3},
        {S::kWrite, " from one", "select id from one", 3},
        {S::kStore, "", "", 1}}},
  };
  for (const Script& script : scripts) {
    SCOPED_TRACE(script.name);
    ResultSet r(conn());
    for (const S& step : script.steps) {
      if (step.op == S::kWrite) r.query << step.text;
      if (step.op == S::kStore) r.store();
      if (step.op == S::kStoreNoRes) r.storeNoRes();
      if (step.op == S::kStoreQuery) r.storeQuery(step.text);
      if (step.op == S::kClear) r.clear();
      EXPECT_EQ(r.print(), step.print);
      EXPECT_EQ(r.size(), step.size);
    }
    ASSERT_TRUE(r.next());
    EXPECT_EQ(text(r.get(0)), script.first);
  }
}

TEST_F(ResultSetTest, ConstructingWithAQueryRunsIt) {
  ResultSet r(kThree, conn());
  EXPECT_EQ(r.print(), "");
  EXPECT_EQ(r.size(), 3);
  EXPECT_EQ(r.tell(), -1);
  EXPECT_EQ(r.getConn(), conn());
}

TEST_F(ResultSetTest, CopyStartsWhereTheSourceIsWithAnEmptyBuilder) {
  ResultSet source(kThree, conn());
  source.next();
  source.next();
  source.query << "select pending";
  ResultSet copy(source);
  EXPECT_EQ(copy.getConn(), conn());
  EXPECT_EQ(copy.size(), 3);
  expectAt(copy, 1, "2");
  EXPECT_EQ(text(copy["name"]), "two");
  EXPECT_EQ(copy.print(), "");
  EXPECT_EQ(source.print(), "select pending");
}

TEST_F(ResultSetTest, CopyAndSourceWalkIndependently) {
  ResultSet source(kThree, conn());
  source.next();
  ResultSet copy(source);
  // Interleaved walks: each keeps its own position over the shared rows.
  ASSERT_TRUE(copy.next());
  expectAt(copy, 1, "2");
  expectAt(source, 0, "1");
  ASSERT_TRUE(copy.next());
  ASSERT_TRUE(source.next());
  expectAt(source, 1, "2");
  expectAt(copy, 2, "3");
  ASSERT_TRUE(copy.prev());
  ASSERT_TRUE(copy.prev());
  ASSERT_TRUE(source.next());
  expectAt(source, 2, "3");
  expectAt(copy, 0, "1");
  ASSERT_TRUE(copy.next());
  expectAt(copy, 1, "2");
  EXPECT_FALSE(source.next());
  expectAt(source, 2, "3");
}

TEST_F(ResultSetTest, RequeryingACopyLeavesTheSourceAlone) {
  ResultSet source(kThree, conn());
  source.next();
  ResultSet copy(source);
  copy.query << "select 'x' as other";
  copy.store();
  EXPECT_EQ(copy.size(), 1);
  EXPECT_EQ(copy.tell(), -1);
  ASSERT_TRUE(copy.next());
  EXPECT_EQ(text(copy["other"]), "x");
  EXPECT_EQ(source.size(), 3);
  expectAt(source, 0, "1");
  EXPECT_EQ(text(source["name"]), "one");
  ASSERT_TRUE(source.next());
  expectAt(source, 1, "2");
}

TEST_F(ResultSetTest, RequeryingTheSourceLeavesACopyReadable) {
  auto source = std::make_unique<ResultSet>(kThree, conn());
  source->next();
  ResultSet copy(*source);
  source->storeQuery(kOne);
  source->next();
  expectAt(*source, 0, "7");
  source.reset();
  expectAt(copy, 0, "1");
  ASSERT_TRUE(copy.next());
  ASSERT_TRUE(copy.next());
  expectAt(copy, 2, "3");
  EXPECT_EQ(text(copy["name"]), "three");
}

TEST_F(ResultSetTest, DestroyingACopyLeavesTheSourceReadable) {
  ResultSet source(kThree, conn());
  source.next();
  {
    ResultSet copy(source);
    copy.next();
    copy.next();
    copy.storeQuery(kOne);
  }
  expectAt(source, 0, "1");
  EXPECT_EQ(source.size(), 3);
  ASSERT_TRUE(source.next());
  expectAt(source, 1, "2");
  source.rewind();
  expectAt(source, 0, "1");
}

// Runs its own query on the copy it is given, as the series code does.
int countOnCopy(ResultSet copy) {
  copy.query << "select id from three where id > 1";
  copy.store();
  return copy.size();
}

TEST_F(ResultSetTest, CopyPassedByValueQueriesOnTheSameConnection) {
  ResultSet source(kOne, conn());
  source.next();
  source.query << "half written";
  EXPECT_EQ(countOnCopy(source), 2);
  EXPECT_EQ(source.size(), 1);
  expectAt(source, 0, "7");
  EXPECT_EQ(source.print(), "half written");
}

TEST_F(ResultSetTest, AssignmentCopiesAllButTheBuilder) {
  ResultSet source(kThree, conn());
  source.next();
  source.next();
  ResultSet target;
  target.query << "target text";
  ResultSet returned = (target = source);
  EXPECT_EQ(target.getConn(), conn());
  EXPECT_EQ(target.size(), 3);
  expectAt(target, 1, "2");
  EXPECT_EQ(target.print(), "target text");
  expectAt(returned, 1, "2");
  // All three walk on their own.
  ASSERT_TRUE(target.next());
  expectAt(target, 2, "3");
  expectAt(source, 1, "2");
  expectAt(returned, 1, "2");
}

TEST_F(ResultSetTest, AssignmentReplacesAnEarlierResult) {
  auto source = std::make_unique<ResultSet>(kOne, conn());
  source->next();
  ResultSet target(kThree, conn());
  target.next();
  target.next();
  target = *source;
  source.reset();
  EXPECT_EQ(target.size(), 1);
  expectAt(target, 0, "7");
  EXPECT_FALSE(target.next());
  EXPECT_EQ(target.fieldNumber("note"), 2);
}

TEST_F(ResultSetTest, SelfAssignmentChangesNothing) {
  ResultSet r(kThree, conn());
  r.next();
  r.next();
  r.query << "kept";
  ResultSet& alias = r;
  r = alias;
  EXPECT_EQ(r.size(), 3);
  expectAt(r, 1, "2");
  EXPECT_EQ(r.print(), "kept");
  ASSERT_TRUE(r.next());
  expectAt(r, 2, "3");
}

TEST_F(ResultSetTest, SetConnMovesLaterQueriesOnly) {
  ScratchDatabase other("rs2");
  other.exec(
      "CREATE TABLE only_here (v VARCHAR(10)); "
      "INSERT INTO only_here VALUES ('there')");
  Connection otherconn =
      ResultSet::makeConn("127.0.0.1", "root", "wqzk", other.name());
  ResultSet r(kThree, conn());
  r.next();
  r.setConn(otherconn.get());
  EXPECT_EQ(r.getConn(), otherconn.get());
  EXPECT_EQ(r.size(), 3);
  expectAt(r, 0, "1");
  r.storeQuery("select v from only_here");
  ASSERT_TRUE(r.next());
  EXPECT_EQ(text(r["v"]), "there");
}

// One run of the probe and everything it must write.
struct ProbeCase {
  const char* name;
  const char* scenario;
  std::string query;
  std::string argument;
  std::string out;
  std::string err;
};

void expectProbe(const std::string& database, const ProbeCase& c) {
  SCOPED_TRACE(c.name);
  std::vector<std::string> args{c.scenario, database};
  if (!c.query.empty() || !c.argument.empty()) args.push_back(c.query);
  if (!c.argument.empty()) args.push_back(c.argument);
  test_support::ProcessResult run =
      test_support::runProcess(RESULTSET_PROBE, args);
  EXPECT_EQ(run.out, c.out);
  EXPECT_EQ(run.err, c.err);
  EXPECT_EQ(run.status, 1);
}

TEST_F(ResultSetTest, CursorAndFieldDiagnostics) {
  const std::string q3 = kThree;
  const std::string q0 = kNone;
  const ProbeCase cases[] = {
      {"next on a new object", "next-on-new", "", "", "No rows in query \"\n",
       ""},
      {"next on an empty result", "next", q0, "",
       "No rows in query \"" + q0 + "\n", ""},
      {"next after only a statement without columns", "next", "DO 1", "",
       "No rows in query \"DO 1\n", ""},
      {"seek one past the end", "seek", q3, "3",
       "Seek to row 3 failed in query \"" + q3 + "\"\n", ""},
      {"seek far past the end", "seek", q3, "1000",
       "Seek to row 1000 failed in query \"" + q3 + "\"\n", ""},
      {"seek before the start", "seek", q3, "-1",
       "Seek to row -1 failed in query \"" + q3 + "\"\n", ""},
      {"seek on an empty result", "seek", q0, "0",
       "Seek to row 0 failed in query \"" + q0 + "\"\n", ""},
      {"rewind on an empty result", "rewind", q0, "",
       "Seek to row 0 failed in query \"" + q0 + "\"\n", ""},
      {"field read before next", "get-before-next", q3, "0",
       "Row -1 out of bounds in query \"" + q3 + "\"\n", ""},
      {"field read on an empty result", "get-before-next", q0, "0",
       "Row -1 out of bounds in query \"" + q0 + "\"\n", ""},
      {"field read after a statement without columns", "get-after-statement",
       q3, "SET @a=1", "Row -1 out of bounds in query \"SET @a=1\"\n", ""},
      {"field index equal to the column count", "get-index", q3, "3",
       "Field 3 out of bounds in query \"" + q3 + "\"\n", ""},
      {"negative field index", "get-index", q3, "-1",
       "Field -1 out of bounds in query \"" + q3 + "\"\n", ""},
      {"index operator out of range", "index-operator", q3, "7",
       "Field 7 out of bounds in query \"" + q3 + "\"\n", ""},
      {"missing field name", "get-name", q3, "missing",
       "No field \"missing\" in \"" + q3 + "\"\n", ""},
      {"name differing in case", "get-name", q3, "Name",
       "No field \"Name\" in \"" + q3 + "\"\n", ""},
      {"name with a trailing blank", "get-name", q3, "name ",
       "No field \"name \" in \"" + q3 + "\"\n", ""},
      {"name operator", "name-operator", q3, "ID",
       "No field \"ID\" in \"" + q3 + "\"\n", ""},
      {"missing name before any row", "get-name-before-next", q3, "missing",
       "No field \"missing\" in \"" + q3 + "\"\n", ""},
      {"present name before any row", "get-name-before-next", q3, "name",
       "Row -1 out of bounds in query \"" + q3 + "\"\n", ""},
      {"missing name on an empty result", "get-name-before-next", q0, "Note",
       "No field \"Note\" in \"" + q0 + "\"\n", ""},
      {"field number of a missing name", "field-number", q3, "NOTE",
       "No field \"NOTE\" in \"" + q3 + "\"\n", ""},
  };
  for (const ProbeCase& c : cases) expectProbe(db_->name(), c);
}

// The four-line text of a failed query.
std::string queryFailure(const std::string& error, const std::string& query) {
  return "Failure to execute: \n\t" + error + "\n\n\tOn query: \"" + query +
         "\"\n";
}

TEST_F(ResultSetTest, QueryFailureDiagnostics) {
  struct Case {
    const char* name;
    const char* scenario;
    std::string query;
  };
  const Case cases[] = {
      {"missing table through storeQuery", "next", "select * from missing"},
      {"unknown column through store", "store", "select nosuch from three"},
      {"syntax error through storeNoRes", "store-no-res", "selec 1"},
      {"quotes in the query through the constructor", "construct",
       "select \"a\", 'it''s' from missing"},
      {"failing statement without columns", "store", "SET @a = nosuch()"},
  };
  for (const Case& c : cases) {
    std::string error = test_support::serverError(db_->name(), c.query);
    ASSERT_NE(error, "") << c.name;
    expectProbe(db_->name(), {c.name, c.scenario, c.query, "",
                              queryFailure(error, c.query), ""});
  }
}

// Cancelling a statement gives up at its deadline even when the server
// does not answer the connection that would send KILL QUERY (here: a
// listener that never accepts), so a stopped run never hangs.
TEST_F(ResultSetTest, CancelGivesUpAtTheDeadline) {
  test_support::LoopbackListener silent;
  test_support::TempDir dir;
  test_support::writeFile(dir.file("silent.cnf"),
                          "[client]\nport=" + std::to_string(silent.port()));
  test_support::ProcessResult run = test_support::runProcess(
      RESULTSET_PROBE,
      {"cancel", db_->name(), "select sleep(20)", dir.file("silent.cnf")});
  EXPECT_EQ(run.out, "cancelled after 1 s\n") << run.err;
}

TEST_F(ResultSetTest, ConnectionFailureDiagnostics) {
  struct Case {
    const char* name;
    std::string database;
    std::string password;
  };
  const Case cases[] = {
      {"wrong password", db_->name(), "wrong"},
      {"unknown database", db_->name() + "_missing", "wqzk"},
  };
  for (const Case& c : cases) {
    std::string error =
        test_support::connectError(c.database, "127.0.0.1", "root", c.password);
    ASSERT_NE(error, "") << c.name;
    expectProbe(c.database,
                {c.name, "connect", "", c.password, "",
                 "Failed to connect to database: Error: " + error + "\n"});
  }
}

}  // namespace
