// Tests of the query layer against the real test server, as the program
// uses it: walking a stored result, field access, a copy that runs its own
// query, which failures count as refused as written, the connections'
// settings, and (through the resultset_probe subprocess) the diagnostics
// with their exact text, stream and exit status.
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "connections.h"
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

// Every row of a result in turn, then false on the last row, which stays
// current: the walk every caller makes.
TEST_F(ResultSetTest, NextWalksEveryRowAndStopsOnTheLast) {
  struct Case {
    const char* query;
    std::vector<std::string> ids;
  };
  const Case cases[] = {{kThree, {"1", "2", "3"}}, {kOne, {"7"}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.query);
    ResultSet r(conn());
    r.query << c.query;
    r.store();
    EXPECT_EQ(r.size(), static_cast<int>(c.ids.size()));
    for (const std::string& id : c.ids) {
      ASSERT_TRUE(r.next());
      EXPECT_EQ(text(r.get(0)), id);
      EXPECT_EQ(text(r.get("id")), id);
    }
    EXPECT_FALSE(r.next());
    EXPECT_FALSE(r.next());
    EXPECT_EQ(text(r.get("id")), c.ids.back());
  }
}

TEST_F(ResultSetTest, FieldValuesConvertLikeVariants) {
  struct Case {
    const char* column;
    std::string asText;
    double asDouble;
  };
  const Case cases[] = {
      {"nul", "", 0.0},
      {"empty", "", 0.0},
      {"letters", "abc", 0.0},
      {"pct", "12.5%", 12.5},
      {"blank", " 7", 7.0},
      {"expo", "1e2", 100.0},
      {"num", "42", 42.0},
      {"neg", "-0.25", -0.25},
      {"zero", std::string("ab\0cd", 5), 0.0},
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

TEST_F(ResultSetTest, NamesMatchExactlyAndTheFirstDuplicateWins) {
  ResultSet r(conn());
  r.storeQuery("select 1 as a, 2 as a, 3 as A, 4 as `a `");
  ASSERT_TRUE(r.next());
  EXPECT_FALSE(r.hasField("a  "));
  EXPECT_EQ(r.fieldNumber("a"), 0);
  EXPECT_EQ(text(r.get("a")), "1");
  EXPECT_EQ(text(r.get(1)), "2");
  EXPECT_EQ(r.fieldNumber("A"), 2);
  EXPECT_EQ(text(r["A"]), "3");
  EXPECT_EQ(r.fieldNumber("a "), 3);
  EXPECT_EQ(text(r["a "]), "4");
}

// Runs its own query on the copy it is given, as the series code does.
int countOnCopy(ResultSet copy) {
  copy.query << "select id from three where id > 1";
  copy.store();
  return copy.size();
}

TEST_F(ResultSetTest, CopyPassedByValueQueriesOnTheSameConnection) {
  ResultSet source(conn());
  source.storeQuery(kOne);
  source.next();
  EXPECT_EQ(countOnCopy(source), 2);
  EXPECT_EQ(source.size(), 1);
  EXPECT_EQ(text(source.get("name")), "seven");
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
      {"next on an empty result", "next", q0, "",
       "No rows in query \"" + q0 + "\n", ""},
      {"missing field name", "get-name", q3, "missing",
       "No field \"missing\" in \"" + q3 + "\"\n", ""},
      {"name differing in case", "get-name", q3, "Name",
       "No field \"Name\" in \"" + q3 + "\"\n", ""},
  };
  for (const ProbeCase& c : cases) expectProbe(db_->name(), c);
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
      {"quotes in the query", "store", "select \"a\", 'it''s' from missing"},
  };
  for (const Case& c : cases) {
    std::string error = test_support::serverError(db_->name(), c.query);
    ASSERT_NE(error, "") << c.name;
    expectProbe(db_->name(), {c.name, c.scenario, c.query, "",
                              test_support::queryFailure(error, c.query), ""});
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

// Which failures the server decides before it reads a row, so that a twin
// of the statement that reads no row fails the same way: one row per error
// of that list, and errors that stop a statement the server accepted.
TEST_F(ResultSetTest, RefusedAsWrittenOrStoppedWhileRunning) {
  const std::string user = "limited_" + std::to_string(getpid());
  const std::string account = "'" + user + "'@'127.0.0.1'";
  db_->exec(
      "CREATE TABLE gone (id INT); CREATE VIEW broken AS SELECT id FROM gone;"
      "DROP TABLE gone; CREATE DEFINER='gone'@'localhost' VIEW orphan AS "
      "SELECT 1 AS x; CREATE FUNCTION f() RETURNS INT RETURN 1");
  test_support::execSql("DROP USER IF EXISTS " + account + "; CREATE USER " +
                        account +
                        " IDENTIFIED BY 'pw'; GRANT SELECT (id) ON `" +
                        db_->name() + "`.three TO " + account);
  Connection noDatabase = ResultSet::makeConn("127.0.0.1", "root", "wqzk", "");
  Connection limited =
      ResultSet::makeConn("127.0.0.1", user, "pw", db_->name());
  const std::string full = "SET STATEMENT sql_mode='ONLY_FULL_GROUP_BY' FOR ";
  struct Case {
    unsigned error;
    MYSQL* conn;
    std::string statement;
    bool refused;
  };
  const Case cases[] = {
      {1046, noDatabase.get(), "select * from three", true},
      {1052, conn(), "select id from three a, three b", true},
      {1054, conn(), "select nosuch from three", true},
      {1055, conn(), full + "select id, name from three group by id", true},
      {1064, conn(), "selec 1", true},
      {1066, conn(), "select * from three a, three a", true},
      {1103, conn(), "select * from `bad `", true},
      {1104, conn(),
       "SET STATEMENT max_join_size=1 FOR select * from three a, three b",
       true},
      {1111, conn(), "select id from three where sum(id) > 0", true},
      {1140, conn(), full + "select id, count(*) from three", true},
      {1142, limited.get(), "select * from one", true},
      {1143, limited.get(), "select name from three", true},
      {1146, conn(), "select * from missing", true},
      {1235, conn(), "select id from one where id in (select 1 limit 1)", true},
      {1305, conn(), "select nosuch(1)", true},
      {1356, conn(), "select * from broken", true},
      {1370, limited.get(), "select f()", true},
      {1449, conn(), "select * from orphan", true},
      {1582, conn(), "select abs(1, 2)", true},
      {4078, conn(), "select point(1, 1) + 1", true},
      {1969, conn(),
       "SET STATEMENT max_statement_time=0.01 FOR select * from three, "
       "(select sleep(1)) as t",
       false},
      {1690, conn(), "select id + 9223372036854775807 from three", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.error) + ": " + c.statement);
    ResultSet r(c.conn);
    ASSERT_FALSE(r.tryStoreQuery(c.statement));
    EXPECT_EQ(mysql_errno(c.conn), c.error) << r.failure();
    EXPECT_EQ(r.refusedAsWritten(), c.refused);
  }
  test_support::execSql("DROP USER " + account);
}

// Only the errors of a connection the server has closed have an idle
// connection opened again.
TEST(ReopenTest, OnlyForAConnectionTheServerClosed) {
  const std::pair<unsigned, bool> cases[] = {
      {2006, true},   // CR_SERVER_GONE_ERROR
      {2013, true},   // CR_SERVER_LOST
      {2026, true},   // CR_SSL_CONNECTION_ERROR: a TLS link's end
      {4031, true},   // MySQL 8.0.24+: closed for inactivity
      {2003, false},  // CR_CONN_HOST_ERROR: no server to reach
  };
  for (const auto& [error, reopened] : cases) {
    SCOPED_TRACE(error);
    EXPECT_EQ(isClosedByServer(error), reopened);
  }
}

// Opening a connection waits 30 s at most unless the option file says
// otherwise; a listener that never answers is shown with a shorter wait.
TEST_F(ResultSetTest, ConnectTimeoutIsThirtySeconds) {
  unsigned int timeout = 0;
  ASSERT_EQ(mysql_get_option(conn(), MYSQL_OPT_CONNECT_TIMEOUT, &timeout), 0);
  EXPECT_EQ(timeout, 30u);
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
