// End-to-end tests on a sharded MariaDB Spider cluster: the demo data moved
// into Spider tables partitioned over the cluster's backends must give the
// built tallyplot binary byte for byte the document the same data gives on
// the single throwaway server, with either query plan; a backend that is
// down must end the run with the frontend's error and no document.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "test_support.h"

namespace {

using test_support::ProcessResult;

constexpr char kTable[] = "fleen";
constexpr int kGroups = 37;         // selectednum groups of the demo data
constexpr int kRowsPerGroup = 250;  // rows in each of them

// A query plan of the program and the environment that selects it.
struct Plan {
  const char* name;
  std::map<std::string, std::string> env;
};

const std::vector<Plan> kPlans = {
    {"one-pass plan (default)", {}},
    {"per-series plan", {{"TALLYPLOT_PLAN", "per-series"}}},
    {"one-pass plan on 4 connections", {{"TALLYPLOT_JOBS", "4"}}},
};

using test_support::demoSql;

// A database name no other test process uses.
std::string uniqueName(const std::string& prefix) {
  static int counter = 0;
  return prefix + "_" + std::to_string(getpid()) + "_" +
         std::to_string(++counter);
}

// Runs one command of tests/mariadb_cluster.sh on the fixture's cluster;
// fails the test when it fails. Returns what it printed.
std::string clusterCommand(const std::string& command,
                           const std::vector<std::string>& args = {}) {
  std::vector<std::string> all = {command, test_support::clusterDir()};
  all.insert(all.end(), args.begin(), args.end());
  ProcessResult result = test_support::runProcess(CLUSTER_SCRIPT, all);
  EXPECT_EQ(result.status, 0) << command << ": " << result.out << result.err;
  return result.out;
}

// Runs the binary with the given databases against 127.0.0.1:port.
ProcessResult runAt(const std::string& path, int port,
                    const std::string& outputDb, const std::string& dataDb,
                    const Plan& plan) {
  std::map<std::string, std::string> env = plan.env;
  env["MYSQL_TCP_PORT"] = std::to_string(port);
  return test_support::runTallyplot(
      {path, "127.0.0.1", "root", "wqzk", kTable, dataDb, outputDb}, env);
}

// Runs to completion and returns the document, which must render as two
// pages.
std::string documentAt(const std::string& path, int port,
                       const std::string& outputDb, const std::string& dataDb,
                       const Plan& plan) {
  ProcessResult result = runAt(path, port, outputDb, dataDb, plan);
  EXPECT_EQ(result.status, 0) << result.out << result.err;
  EXPECT_EQ(result.out + result.err, "");
  test_support::RenderResult render = test_support::renderWithGhostscript(path);
  EXPECT_TRUE(render.ok) << render.log;
  EXPECT_EQ(render.pages, 2) << render.log;
  return test_support::readFile(path);
}

// The first line where two documents differ, for a readable failure.
std::string firstDifference(const std::string& a, const std::string& b) {
  std::vector<std::string> left = test_support::splitLines(a);
  std::vector<std::string> right = test_support::splitLines(b);
  for (size_t i = 0; i < left.size() || i < right.size(); ++i) {
    std::string l = i < left.size() ? left[i] : "<end>";
    std::string r = i < right.size() ? right[i] : "<end>";
    if (l != r) {
      return "line " + std::to_string(i + 1) + ": \"" + l + "\" vs \"" + r +
             "\"";
    }
  }
  return "same lines, different bytes";
}

// The demo databases on the cluster's frontend, the data table moved into a
// Spider table partitioned by a column over some backends; dropped on every
// server still running when the object goes.
class ShardedDemo {
 public:
  ShardedDemo(const std::string& column, const std::vector<int>& backends)
      : outputDb_(uniqueName("cl_out")),
        dataDb_(uniqueName("cl_data")),
        backends_(backends) {
    test_support::execSqlAt(test_support::clusterFrontendPort(), "",
                            demoSql(outputDb_, dataDb_));
    std::vector<std::string> args = {outputDb_, kTable, column};
    for (int k : backends) args.push_back(std::to_string(k));
    clusterCommand("shard", args);
  }
  ~ShardedDemo() {
    const std::string drop = "DROP DATABASE IF EXISTS `" + outputDb_ +
                             "`; DROP DATABASE IF EXISTS `" + dataDb_ + "`";
    test_support::execSqlAt(test_support::clusterFrontendPort(), "", drop);
    for (int k : backends_) {
      test_support::execSqlAt(test_support::clusterBackendPort(k), "", drop);
    }
  }
  ShardedDemo(const ShardedDemo&) = delete;
  ShardedDemo& operator=(const ShardedDemo&) = delete;

  const std::string& outputDb() const { return outputDb_; }
  const std::string& dataDb() const { return dataDb_; }

  // Rows and distinct selectednum groups stored on backend k.
  std::pair<int, int> share(int k) const {
    const auto rows = test_support::queryRows(
        "SELECT COUNT(*), COUNT(DISTINCT selectednum) FROM `" + outputDb_ +
            "`.`" + kTable + "`",
        test_support::clusterBackendPort(k));
    if (rows.size() != 1) return {0, 0};
    return {std::stoi(rows[0][0]), std::stoi(rows[0][1])};
  }

  // Stops backend k, whose share of the rows is then out of reach.
  void stopBackend(int k) {
    clusterCommand("stop-backend", {std::to_string(k)});
    backends_.erase(std::remove(backends_.begin(), backends_.end(), k),
                    backends_.end());
  }

 private:
  std::string outputDb_;
  std::string dataDb_;
  std::vector<int> backends_;
};

// Every test starts from the program's default plan.
class ClusterTest : public ::testing::Test {
 protected:
  void SetUp() override { unsetenv("TALLYPLOT_PLAN"); }

  test_support::TempDir dir_;
};

// How the demo data table is spread over the backends.
struct Layout {
  const char* name;
  const char* column;         // the partitioning column
  std::vector<int> backends;  // backend numbers, one partition each
  bool groupsSpread;          // every group has rows on every backend
};

TEST_F(ClusterTest, DocumentIsTheSingleServersByteForByte) {
  const std::vector<Layout> layouts = {
      {"2 backends, by selectednum", "selectednum", {1, 2}, false},
      {"3 backends, by idx", "idx", {1, 2, 3}, true},
  };
  for (const int port : {test_support::clusterBackendPort(1),
                         test_support::clusterFrontendPort()}) {
    test_support::execSqlAt(port, "",
                            "SET GLOBAL log_output = 'TABLE'; "
                            "SET GLOBAL general_log = 1");
  }
  test_support::ScratchDatabase outputDb("cl_single_out");
  test_support::ScratchDatabase dataDb("cl_single_data");
  test_support::execSql(demoSql(outputDb.name(), dataDb.name()));
  std::map<std::string, std::string> single;
  for (const Plan& plan : kPlans) {
    SCOPED_TRACE(plan.name);
    single[plan.name] =
        documentAt(dir_.file("single.eps"), test_support::serverPort(),
                   outputDb.name(), dataDb.name(), plan);
    ASSERT_FALSE(single[plan.name].empty());
  }

  for (const Layout& layout : layouts) {
    SCOPED_TRACE(layout.name);
    ShardedDemo demo(layout.column, layout.backends);
    int rows = 0;
    int groups = 0;
    for (int k : layout.backends) {
      const auto [rowsHere, groupsHere] = demo.share(k);
      EXPECT_GT(rowsHere, 0) << "backend " << k << " holds no rows";
      rows += rowsHere;
      groups += groupsHere;
    }
    EXPECT_EQ(rows, kGroups * kRowsPerGroup);
    if (layout.groupsSpread) {
      EXPECT_EQ(groups, kGroups * static_cast<int>(layout.backends.size()));
    } else {
      EXPECT_EQ(groups, kGroups);
    }
    for (const Plan& plan : kPlans) {
      SCOPED_TRACE(plan.name);
      const std::string cluster = documentAt(
          dir_.file("cluster.eps"), test_support::clusterFrontendPort(),
          demo.outputDb(), demo.dataDb(), plan);
      EXPECT_TRUE(cluster == single[plan.name])
          << firstDifference(cluster, single[plan.name]);
    }
    // The small-integer flags reach the backends as double arithmetic, the
    // function call as written (a double literal would arrive as 0).
    const auto received = test_support::queryRows(
        "SELECT COUNT(*) FROM mysql.general_log WHERE argument NOT LIKE "
        "'%general_log%' AND argument LIKE "
        "'%sum((`any_exceeded_inc` + (sqrt(0))))%from `" +
            demo.outputDb() + "`%'",
        test_support::clusterBackendPort(1));
    EXPECT_NE(received.at(0).at(0), "0") << "no double sums on backend 1";
    // The backends of a Spider table already scan at once: ranges through
    // the frontend would only add statements for every backend.
    const auto ranges = test_support::queryRows(
        "SELECT COUNT(*) FROM mysql.general_log WHERE argument LIKE '% where "
        "idx >= %' AND thread_id IN (SELECT thread_id FROM mysql.general_log "
        "WHERE command_type = 'Connect' AND argument LIKE '% on " +
            demo.outputDb() + " %')",
        test_support::clusterFrontendPort());
    EXPECT_EQ(ranges.at(0).at(0), "0") << "the Spider table was split";
  }
}

// The backend of this test is one of its own, so stopping it disturbs no
// other test using the cluster.
TEST_F(ClusterTest, StoppedBackendEndsTheRunWithTheFrontendsError) {
  const int k = std::atoi(clusterCommand("add-backend").c_str());
  ASSERT_GT(k, 0);
  ShardedDemo demo("selectednum", {1, k});
  ASSERT_GT(demo.share(k).first, 0);
  demo.stopBackend(k);
  const int port = test_support::clusterFrontendPort();
  const std::string marker = "\n\n\tOn query: \"";
  // Each failing statement waits out the frontend's connection retries:
  // ask the frontend only once per statement.
  std::map<std::string, std::string> errors;
  bool preexisting = false;
  // A split scan meets the stopped backend in its first statement on the
  // table too, the bounds of idx, before any range.
  for (const Plan& plan : {kPlans[0], kPlans[1]}) {
    SCOPED_TRACE(plan.name);
    preexisting = !preexisting;
    const std::string path = dir_.file(preexisting ? "kept.eps" : "new.eps");
    const std::string before = "%!PS earlier document\n";
    if (preexisting) test_support::writeFile(path, before);
    ProcessResult result =
        runAt(path, port, demo.outputDb(), demo.dataDb(), plan);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "");
    // The diagnostic names the statement that failed; the frontend must
    // give exactly the error shown for it.
    const size_t at = result.out.find(marker);
    ASSERT_NE(at, std::string::npos) << result.out;
    ASSERT_GE(result.out.size(), at + marker.size() + 2) << result.out;
    const std::string query = result.out.substr(
        at + marker.size(), result.out.size() - at - marker.size() - 2);
    EXPECT_NE(query.find(std::string(" from ") + kTable + " "),
              std::string::npos)
        << query;
    if (errors.count(query) == 0) {
      errors[query] = test_support::serverError(demo.outputDb(), query, port);
    }
    const std::string& error = errors[query];
    EXPECT_NE(error.find("b" + std::to_string(k)), std::string::npos) << error;
    EXPECT_EQ(result.out, "Failure to execute: \n\t" + error +
                              "\n\n\tOn query: \"" + query + "\"\n");
    if (preexisting) {
      EXPECT_EQ(test_support::readFile(path), before);
    } else {
      EXPECT_FALSE(test_support::fileExists(path));
    }
  }
}

}  // namespace
