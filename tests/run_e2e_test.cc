// End-to-end tests of the built tallyplot binary against the test server:
// the command line, the two connections and their diagnostics, the group
// size, the password hidden from the process list, and an output path that
// a failed run leaves exactly as it was.
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <mysql.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace {

using test_support::connectError;
using test_support::fileExists;
using test_support::listDirectory;
using test_support::ProcessResult;
using test_support::readFile;
using test_support::runTallyplot;
using test_support::ScratchDatabase;
using test_support::TempDir;
using test_support::writeFile;

const char kUsageTail[] =
    " <filename> [<host> <user> <pass> <table> <db> <outputdb>]\n";
const char kConnectPrefix[] = "Failed to connect to database: Error: ";
const char kPrevious[] = "%!PS a previous document\n\twith its own bytes\n";

// Closes a connection opened with the C API by the tests themselves.
struct MysqlCloser {
  void operator()(MYSQL* conn) const { mysql_close(conn); }
};
using RawConnection = std::unique_ptr<MYSQL, MysqlCloser>;

// A root connection made without the query layer; error says why not.
RawConnection rawConnect(const std::string& database, std::string& error) {
  RawConnection conn(mysql_init(nullptr));
  const char* db = database.empty() ? nullptr : database.c_str();
  if (mysql_real_connect(conn.get(), "127.0.0.1", "root", "wqzk", db,
                         test_support::serverPort(), nullptr, 0) == nullptr) {
    error = mysql_error(conn.get());
    return nullptr;
  }
  return conn;
}

// The first field of the first row of query, or "" when there is none.
std::string rawValue(MYSQL* conn, const std::string& query) {
  std::string value;
  if (mysql_query(conn, query.c_str()) != 0) {
    ADD_FAILURE() << query << ": " << mysql_error(conn);
    return value;
  }
  MYSQL_RES* res = mysql_store_result(conn);
  if (res == nullptr) return value;
  MYSQL_ROW row = mysql_fetch_row(res);
  if (row && row[0]) value = row[0];
  mysql_free_result(res);
  return value;
}

// A loopback port on which nothing listens.
int unusedPort() { return test_support::LoopbackListener(false).port(); }

std::string flagColumnsDefinition() {
  std::string columns;
  for (const test_support::FixedSeries& f : test_support::kFixedSeries) {
    columns += std::string(", `") + f.column + "` TINYINT DEFAULT 0";
  }
  return columns;
}

// Creates an empty data table of the expected layout; idx may be NULL.
void createDataTable(const ScratchDatabase& db, const std::string& table) {
  db.exec("CREATE TABLE `" + table + "` (idx INT NULL, selectednum INT" +
          flagColumnsDefinition() + ")");
}

// Creates sums with one selected row over a fixed column and one row that
// must be ignored.
void createSums(const ScratchDatabase& db) {
  db.exec(
      "CREATE TABLE sums (increment INT, name VARCHAR(64),"
      " outputfield VARCHAR(64), red VARCHAR(16), green VARCHAR(16),"
      " blue VARCHAR(16), symbol VARCHAR(32));"
      "INSERT INTO sums VALUES (1, 'Upmass Again', 'upmass', '1', '0.5', '0',"
      " 'circle'), (0, 'Ignored', 'nosuch', '0', '0', '0', 'square')");
}

// A small valid data model: three groups of two rows with a few flags set,
// in table of output, and a sums table in data.
void loadValidData(const ScratchDatabase& output, const ScratchDatabase& data,
                   const std::string& table = "cases") {
  createDataTable(output, table);
  output.exec("INSERT INTO `" + table +
              "` (idx, selectednum, any_exceeded_inc, upmass_xcd, MTL_xcd)"
              " VALUES (1, 1, 0, 0, 0), (2, 1, 1, 1, 0), (3, 2, 0, 0, 1),"
              " (4, 2, 1, 0, 1), (5, 3, 0, 0, 0), (6, 3, 1, 1, 0)");
  createSums(data);
}

// The two databases of one run, and its six positional settings.
class RunFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(test_support::serverPort(), 0);
    output_ = std::make_unique<ScratchDatabase>("out");
    data_ = std::make_unique<ScratchDatabase>("dat");
  }

  // The output path followed by host, user, pass, table, db, outputdb.
  std::vector<std::string> args(const std::string& path,
                                const std::string& table = "cases",
                                const std::string& pass = "wqzk") const {
    return {path,  "127.0.0.1",   "root",         pass,
            table, data_->name(), output_->name()};
  }

  std::unique_ptr<ScratchDatabase> output_;
  std::unique_ptr<ScratchDatabase> data_;
  TempDir dir_;
};

// A complete run: silent, status 0, and a document of two pages that
// Ghostscript renders without error.
void expectCompleteRun(const ProcessResult& run, const std::string& path) {
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
  ASSERT_TRUE(fileExists(path));
  EXPECT_EQ(readFile(path).rfind("%!PS-Adobe-3.0 EPSF-3.0", 0), 0u);
  test_support::RenderResult render = test_support::renderWithGhostscript(path);
  EXPECT_TRUE(render.ok) << render.log;
  EXPECT_EQ(render.pages, 2) << render.log;
}

std::string usageText(const std::string& argv0) {
  return "Usage: " + argv0 + kUsageTail;
}

TEST_F(RunFixture, WrongArgumentCountsPrintTheUsage) {
  loadValidData(*output_, *data_);
  std::vector<std::string> valid = args(dir_.file("out.eps"));
  valid.push_back("extra");
  valid.push_back("more");
  for (size_t count : {0, 2, 3, 4, 5, 6, 8, 9}) {
    SCOPED_TRACE(std::to_string(count) + " arguments");
    std::vector<std::string> given(valid.begin(), valid.begin() + count);
    ProcessResult run = runTallyplot(given);
    EXPECT_EQ(run.out, usageText(test_support::tallyplotBinary()));
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(listDirectory(dir_.path()), std::vector<std::string>{});
  }
}

TEST_F(RunFixture, UsageEchoesTheProgramNameAsInvoked) {
  for (const std::string argv0 : {"tallyplot", "./build dir/tallyplot",
                                  "/usr/local/bin/tallyplot", "%s%n\\"}) {
    SCOPED_TRACE(argv0);
    ProcessResult run = test_support::runProcess(
        test_support::tallyplotBinary(), {"a", "b"}, {}, argv0);
    EXPECT_EQ(run.out, usageText(argv0));
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 1);
  }
}

// --help and --version, as the one argument, answer before anything else
// is touched (here a query plan that would be refused); any other argument,
// a path ending in --help too, is a file name. A failed answer says so.
TEST_F(RunFixture, HelpAndVersionTouchNothing) {
  const std::string binary = test_support::tallyplotBinary();
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string out;  // what standard output starts with
    std::string err;
    int status;
  };
  const Case cases[] = {
      {"--help", {"--help"}, usageText(binary), "", 0},
      {"-h", {"-h"}, usageText(binary), "", 0},
      {"--version", {"--version"}, "tallyplot " TALLYPLOT_VERSION "\n", "", 0},
      {"a path ending in --help",
       {dir_.file("--help")},
       "",
       "Invalid TALLYPLOT_PLAN \"x\": set it to \"per-series\" or leave it "
       "unset or empty\n",
       1},
      {"--help into a full device",
       {"-c", "exec \"$0\" --help >/dev/full", binary},
       "",
       "Failed to write output file: standard output: No space left on "
       "device\n",
       1},
      {"--help with standard output closed",
       {"-c", "exec \"$0\" --help >&-", binary},
       "",
       "Failed to write output file: standard output: Bad file descriptor\n",
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProcessResult run =
        test_support::runProcess(c.args.size() == 1 ? binary : "/bin/sh",
                                 c.args, {{"TALLYPLOT_PLAN", "x"}});
    EXPECT_EQ(run.out.substr(0, c.out.size()), c.out);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(listDirectory(dir_.path()), std::vector<std::string>{});
  }
}

TEST_F(RunFixture, CompleteRunIsSilentAndReplacesTheFile) {
  loadValidData(*output_, *data_);
  std::string path = dir_.file("chart.eps");
  writeFile(path, kPrevious);
  expectCompleteRun(runTallyplot(args(path)), path);
  EXPECT_NE(readFile(path).find("showpage"), std::string::npos);
  EXPECT_EQ(listDirectory(dir_.path()), std::vector<std::string>{"chart.eps"});
}

TEST_F(RunFixture, TableNameIsUsedVerbatim) {
  loadValidData(*output_, *data_);
  std::string path = dir_.file("chart.eps");
  expectCompleteRun(runTallyplot(args(path, "`" + output_->name() + "`.cases")),
                    path);
}

// What one failed run must write.
struct Failure {
  std::string name;
  std::vector<std::string> args;  // after the output path
  std::map<std::string, std::string> env;
  std::string out;
  std::string err;
};

// Runs a failing case against an existing and a missing output file; both
// must be left exactly as they were, with no temporary file beside them.
void expectFailureKeepsOutput(const TempDir& dir, const Failure& f) {
  SCOPED_TRACE(f.name);
  const std::string existing = dir.file("existing.eps");
  const std::string missing = dir.file("missing.eps");
  writeFile(existing, kPrevious);
  for (const std::string& path : {existing, missing}) {
    SCOPED_TRACE(path);
    std::vector<std::string> given{path};
    given.insert(given.end(), f.args.begin(), f.args.end());
    ProcessResult run = runTallyplot(given, f.env);
    EXPECT_EQ(run.out, f.out);
    EXPECT_EQ(run.err, f.err);
    EXPECT_EQ(run.status, 1);
  }
  EXPECT_EQ(readFile(existing), kPrevious);
  EXPECT_EQ(listDirectory(dir.path()),
            std::vector<std::string>{"existing.eps"});
}

// The diagnostic of query, which the server refuses in database.
std::string queryFailure(const std::string& database,
                         const std::string& query) {
  return test_support::queryFailure(test_support::serverError(database, query),
                                    query);
}

std::string groupQuery(const std::string& table) {
  return "select count(idx) from " + table +
         " group by selectednum order by selectednum asc";
}

// The six settings with the one at position (0 = host) replaced.
std::vector<std::string> withSetting(std::vector<std::string> settings,
                                     size_t position,
                                     const std::string& value) {
  settings[position] = value;
  return settings;
}

TEST_F(RunFixture, SettingsAreTakenByPosition) {
  loadValidData(*output_, *data_);
  std::vector<std::string> six = args("");
  six.erase(six.begin());
  const std::string out = output_->name(), data = data_->name();
  const std::string user = "nobody_" + std::to_string(getpid());
  const Failure cases[] = {
      {"host",
       withSetting(six, 0, "127.0.0.2"),
       {},
       "",
       kConnectPrefix + connectError(out, "127.0.0.2") + "\n"},
      {"user",
       withSetting(six, 1, user),
       {},
       "",
       kConnectPrefix + connectError(out, "127.0.0.1", user) + "\n"},
      {"password",
       withSetting(six, 2, "wrong"),
       {},
       "",
       kConnectPrefix + connectError(out, "127.0.0.1", "root", "wrong") + "\n"},
      {"table",
       withSetting(six, 3, "missing"),
       {},
       queryFailure(out, groupQuery("missing")),
       ""},
      {"data database",
       withSetting(six, 4, data + "_missing"),
       {},
       "",
       kConnectPrefix + connectError(data + "_missing") + "\n"},
      {"output database",
       withSetting(six, 5, out + "_missing"),
       {},
       "",
       kConnectPrefix + connectError(out + "_missing") + "\n"},
      {"data table read from the output database",
       withSetting(withSetting(six, 4, out), 5, data),
       {},
       queryFailure(data, groupQuery("cases")),
       ""},
      {"output database tried first",
       withSetting(withSetting(six, 4, data + "_x"), 5, out + "_y"),
       {},
       "",
       kConnectPrefix + connectError(out + "_y") + "\n"},
  };
  for (const Failure& f : cases) expectFailureKeepsOutput(dir_, f);
}

TEST_F(RunFixture, FailedRunsLeaveTheOutputPathAsItWas) {
  createDataTable(*output_, "cases");
  output_->exec(
      "INSERT INTO cases (idx, selectednum) VALUES (1, 1), (2, 2);"
      "CREATE TABLE nulls LIKE cases;"
      "INSERT INTO nulls (idx, selectednum, upmass_xcd) VALUES"
      " (NULL, 1, 1), (NULL, 1, 0), (3, 2, 0), (4, 2, 1);"
      "CREATE TABLE empty LIKE cases");
  // No sums table: the run fails only after every fixed series was drawn.
  const std::string out = output_->name();
  const int noServer = unusedPort();
  auto six = [&](const std::string& table, const std::string& pass) {
    std::vector<std::string> a = args("", table, pass);
    return std::vector<std::string>(a.begin() + 1, a.end());
  };
  const Failure cases[] = {
      {"wrong password",
       six("cases", "wrong"),
       {},
       "",
       kConnectPrefix + connectError(out, "127.0.0.1", "root", "wrong") + "\n"},
      {"no server on the port",
       six("cases", "wqzk"),
       {{"MYSQL_TCP_PORT", std::to_string(noServer)}},
       "",
       kConnectPrefix +
           connectError(out, "127.0.0.1", "root", "wqzk", noServer) + "\n"},
      {"empty data table",
       six("empty", "wqzk"),
       {},
       "No rows in query \"" + groupQuery("empty") + "\n",
       ""},
      {"group size 0",
       six("nulls", "wqzk"),
       {},
       "Group size is 0 in query \"" + groupQuery("nulls") + "\"\n",
       ""},
      {"unknown query plan, refused before the refused login",
       six("cases", "wrong"),
       {{"TALLYPLOT_PLAN", "one-pass"}},
       "",
       "Invalid TALLYPLOT_PLAN \"one-pass\": set it to \"per-series\" or "
       "leave it unset or empty\n"},
      {"missing sums table",
       six("cases", "wqzk"),
       {},
       queryFailure(data_->name(), "select * from sums where increment=1"),
       ""},
  };
  for (const Failure& f : cases) expectFailureKeepsOutput(dir_, f);
}

TEST_F(RunFixture, MissingDirectoryIsReportedBeforeAnyConnection) {
  loadValidData(*output_, *data_);
  const std::string path = dir_.file("nodir/chart.eps");
  const std::string missing =
      "Failed to write output file: " + path + ": No such file or directory\n";
  TempDir files;  // option files that include what cannot be read
  const std::string include = files.file("include.cnf"),
                    includedir = files.file("includedir.cnf");
  writeFile(include, "[client]\n!include " + files.file("none.cnf") + "\n");
  writeFile(includedir, "!includedir " + files.file("none") + "\n");
  const std::string jobs = files.file("jobs.cnf");
  writeFile(jobs, "[tallyplot]\njobs=65\n");
  auto cannotRead = [](const std::string& file, const std::string& reason) {
    return "Cannot read TALLYPLOT_DEFAULTS_FILE \"" + file + "\": " + reason +
           "\n";
  };
  auto invalidDpi = [](const std::string& value) {
    return "Invalid TALLYPLOT_PNG_DPI \"" + value +
           "\": set it to a whole number from 10 to 1200, or leave it unset "
           "or empty\n";
  };
  auto noGhostscript = [&](const std::string& file, const char* format) {
    return "Failed to write output file: " + dir_.file(file) + ": writing " +
           format +
           " needs Ghostscript (gs), which is not on PATH; install it with "
           "apt-get install ghostscript\n";
  };
  struct Case {
    const char* name;
    std::string pass;
    std::map<std::string, std::string> env;
    std::string err;
    std::string file = "nodir/chart.eps";
  };
  const std::map<std::string, std::string> noGs = {{"PATH", files.path()}};
  const Case cases[] = {
      {"reachable server", "wqzk", {}, missing},
      {"PNG resolution below its range, checked for any format",
       "wrong",
       {{"TALLYPLOT_PNG_DPI", "9"}},
       invalidDpi("9")},
      {"PNG resolution above its range",
       "wrong",
       {{"TALLYPLOT_PNG_DPI", "1201"}},
       invalidDpi("1201")},
      {"PNG resolution not a number",
       "wrong",
       {{"TALLYPLOT_PNG_DPI", "150dpi"}},
       invalidDpi("150dpi")},
      {"no Ghostscript for a PDF", "wrong", noGs,
       noGhostscript("nodir/chart.pdf", "PDF"), "nodir/chart.pdf"},
      {"no Ghostscript for a PNG", "wrong", noGs,
       noGhostscript("nodir/chart.png", "PNG"), "nodir/chart.png"},
      {"refused login", "wrong", {}, missing},
      {"no server",
       "wqzk",
       {{"MYSQL_TCP_PORT", std::to_string(unusedPort())}},
       missing},
      {"missing TALLYPLOT_DEFAULTS_FILE",
       "wqzk",
       {{"TALLYPLOT_DEFAULTS_FILE", dir_.file("none.cnf")}},
       "Cannot read TALLYPLOT_DEFAULTS_FILE \"" + dir_.file("none.cnf") +
           "\": No such file or directory\n"},
      {"TALLYPLOT_DEFAULTS_FILE a directory",
       "wqzk",
       {{"TALLYPLOT_DEFAULTS_FILE", dir_.path()}},
       "Cannot read TALLYPLOT_DEFAULTS_FILE \"" + dir_.path() +
           "\": Is a directory\n"},
      {"TALLYPLOT_DEFAULTS_FILE a device that never ends",
       "wqzk",
       {{"TALLYPLOT_DEFAULTS_FILE", "/dev/zero"}},
       cannotRead("/dev/zero", "neither a regular file nor a pipe")},
      {"an !include that cannot be read",
       "wqzk",
       {{"TALLYPLOT_DEFAULTS_FILE", include}},
       cannotRead(include,
                  files.file("none.cnf") + ": No such file or directory")},
      {"an !includedir that cannot be read",
       "wqzk",
       {{"TALLYPLOT_DEFAULTS_FILE", includedir}},
       cannotRead(includedir,
                  files.file("none") + ": No such file or directory")},
      {"TALLYPLOT_JOBS out of range",
       "wqzk",
       {{"TALLYPLOT_JOBS", "0"}},
       "Invalid TALLYPLOT_JOBS \"0\": set it to a whole number from 1 to 64, "
       "or leave it unset or empty\n"},
      {"jobs of the option file out of range",
       "wqzk",
       {{"TALLYPLOT_DEFAULTS_FILE", jobs}},
       "Invalid jobs \"65\" in the [tallyplot] group of "
       "TALLYPLOT_DEFAULTS_FILE: set it to a whole number from 1 to 64\n"},
      {"unknown query plan, checked first",
       "wqzk",
       {{"TALLYPLOT_PLAN", "x"}},
       "Invalid TALLYPLOT_PLAN \"x\": set it to \"per-series\" or leave "
       "it "
       "unset or empty\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProcessResult run =
        runTallyplot(args(dir_.file(c.file), "cases", c.pass), c.env);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(listDirectory(dir_.path()), std::vector<std::string>{});
  }
}

TEST_F(RunFixture, FullDeviceIsReported) {
  loadValidData(*output_, *data_);
  ProcessResult run = runTallyplot(args("/dev/full"));
  EXPECT_EQ(run.err,
            "Failed to write output file: /dev/full: No space left on "
            "device\n");
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.status, 1);
}

TEST_F(RunFixture, DevStdoutPrintsTheSameDocument) {
  loadValidData(*output_, *data_);
  const std::string path = dir_.file("chart.eps");
  expectCompleteRun(runTallyplot(args(path)), path);
  ProcessResult run = runTallyplot(args("/dev/stdout"));
  EXPECT_TRUE(run.out == readFile(path))
      << "standard output differs from the file written for the same data";
  const std::string printed = dir_.file("printed.eps");
  writeFile(printed, run.out);
  expectCompleteRun({run.status, "", run.err}, printed);
}

// A shell's ">>" onto /dev/stdout must append to the redirected file, not
// replace it: the document goes through the inherited descriptor. A
// stream the shell closed is no output, however the path names it.
TEST_F(RunFixture, DescriptorPathsFollowTheShellsRedirections) {
  loadValidData(*output_, *data_);
  const std::string path = dir_.file("chart.eps");
  expectCompleteRun(runTallyplot(args(path)), path);
  const std::string log = dir_.file("log.txt");
  const std::string link = dir_.file("out-link");
  ASSERT_EQ(symlink("/dev/stdout", link.c_str()), 0);
  const std::string closed = "Bad file descriptor\n";
  struct Case {
    std::string target;  // expanded by the shell that starts the run
    std::string redirection;
    int status;
    std::string err;  // its end; empty: none expected
  };
  const Case cases[] = {
      {"/dev/stdout", ">>" + log, 0, ""},
      {"/dev/stdout", ">&-", 1, closed},
      {"/proc/self/fd/1", ">&-", 1, closed},
      {"/proc/thread-self/fd/1", ">&-", 1, closed},
      {"/proc/$$/task/$$/fd/1", ">&-", 1, closed},
      {link, ">&-", 1, closed},
      {"/dev/null", ">&-", 0, ""},
      {"/dev/stderr", "2>&-", 1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target + " " + c.redirection);
    writeFile(log, "previous\n");
    // exec keeps the shell's process, whose number $$ is.
    std::vector<std::string> shellArgs = {
        "-c", "exec \"$0\" \"" + c.target + "\" \"$@\" " + c.redirection,
        test_support::tallyplotBinary()};
    std::vector<std::string> settings = args(c.target);
    shellArgs.insert(shellArgs.end(), settings.begin() + 1, settings.end());
    ProcessResult run = test_support::runProcess("/bin/sh", shellArgs);
    EXPECT_EQ(run.status, c.status) << run.out << run.err;
    EXPECT_EQ(
        run.err.substr(run.err.size() - std::min(run.err.size(), c.err.size())),
        c.err);
    const bool appended = c.redirection.rfind(">>", 0) == 0;
    EXPECT_TRUE(readFile(log) ==
                "previous\n" + (appended ? readFile(path) : ""))
        << "the redirected file lost its content or the document differs";
  }
}

// Page 1 of the EPS document at path as Ghostscript renders it into a PNG
// with the program's settings: a valid picture, 11 by 8.5 inches at dpi.
std::string renderedChartPage(const std::string& path, int dpi) {
  ProcessResult gs = test_support::runProcess(
      "gs",
      {"-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=png16m",
       "-r" + std::to_string(dpi), "-dFirstPage=1", "-dLastPage=1",
       "-dTextAlphaBits=4", "-dGraphicsAlphaBits=4", "-sOutputFile=-", path});
  EXPECT_EQ(gs.status, 0) << gs.err;
  return gs.out;
}

// The output name's extension chooses the format, in any case: a PDF of
// both pages with the document's text, or the PNG of the chart page that
// Ghostscript renders from the document at the resolution asked for;
// any other name, the EPS byte for byte, without Ghostscript. Nothing else
// is left behind, Ghostscript's scratch files included, GS_OPTIONS adds
// nothing to the program's settings, and a run started with SIGCHLD
// ignored still learns how Ghostscript ended.
TEST_F(RunFixture, OutputNameChoosesTheFormat) {
  loadValidData(*output_, *data_);
  const std::string reference = dir_.file("reference.eps");
  expectCompleteRun(runTallyplot(args(reference)), reference);
  const std::string text = test_support::ghostscriptText(reference);
  TempDir scratch, files;
  writeFile(files.file("dpi.cnf"), "[tallyplot]\npng-dpi=72\n");
  const std::string toStdout = files.file("stdout.pdf");
  ASSERT_EQ(symlink("/dev/stdout", toStdout.c_str()), 0);
  struct Case {
    std::string name;  // in dir_, unless absolute
    std::map<std::string, std::string> env;
    std::string format;
    int dpi = 150;
    bool childIgnored = false;  // started with SIGCHLD ignored
  };
  const Case cases[] = {
      {"chart.eps", {}, "eps"},
      {"chart", {}, "eps"},
      {"chart.eps", {{"TALLYPLOT_PNG_DPI", "1200"}}, "eps"},
      {"chart.eps", {{"PATH", files.path()}}, "eps"},
      {"chart.pdf", {}, "pdf"},
      {"chart.PDF", {}, "pdf"},
      {"chart.pdf", {}, "pdf", 150, true},
      {toStdout, {}, "pdf"},
      {"chart.png", {}, "png"},
      {"chart.Png", {{"TALLYPLOT_PNG_DPI", "10"}}, "png", 10},
      {"chart.png",
       {{"TALLYPLOT_DEFAULTS_FILE", files.file("dpi.cnf")}},
       "png",
       72},
      {"chart.png", {{"GS_OPTIONS", "-dFIXEDMEDIA -sPAPERSIZE=a4"}}, "png"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name + (c.env.empty() ? "" : " " + c.env.begin()->first));
    const bool absolute = c.name[0] == '/';
    const std::string path = absolute ? c.name : dir_.file(c.name);
    std::map<std::string, std::string> env = c.env;
    env["TMPDIR"] = scratch.path();
    std::vector<std::string> given = args(path);
    given.insert(given.begin(), {"-c", "trap '' CHLD; exec \"$0\" \"$@\"",
                                 test_support::tallyplotBinary()});
    ProcessResult run = c.childIgnored
                            ? test_support::runProcess("/bin/bash", given, env)
                            : runTallyplot(args(path), env);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const std::string written = absolute ? run.out : readFile(path);
    if (c.format == "eps") {
      EXPECT_TRUE(written == readFile(reference)) << "another document";
    } else if (c.format == "pdf") {
      EXPECT_EQ(written.rfind("%PDF-", 0), 0u);
      const std::string pdf = files.file("written.pdf");
      writeFile(pdf, written);
      EXPECT_EQ(test_support::renderWithGhostscript(pdf).pages, 2);
      EXPECT_EQ(test_support::ghostscriptText(pdf), text);
    } else {
      EXPECT_TRUE(written == renderedChartPage(reference, c.dpi))
          << "not the picture Ghostscript renders of the chart page";
    }
    if (!absolute) unlink(path.c_str());
    EXPECT_EQ(listDirectory(dir_.path()),
              std::vector<std::string>{"reference.eps"});
    EXPECT_EQ(listDirectory(scratch.path()), std::vector<std::string>{});
  }
}

// Holds a named server lock for as long as it lives, so tests that need
// the default database names never run at the same time.
class ServerLock {
 public:
  explicit ServerLock(const std::string& name) {
    std::string error;
    conn_ = rawConnect("", error);
    if (conn_) {
      EXPECT_EQ(rawValue(conn_.get(), "SELECT GET_LOCK('" + name + "', 120)"),
                "1")
          << "could not take the server lock " << name;
    }
  }

 private:
  RawConnection conn_;
};

TEST_F(RunFixture, OneArgumentUsesEveryDefault) {
  ServerLock lock("tallyplot_default_databases");
  test_support::execSql(
      "DROP DATABASE IF EXISTS vetch_output; DROP DATABASE IF EXISTS "
      "vetch_data; CREATE DATABASE vetch_output; CREATE DATABASE vetch_data");
  test_support::execSql(
      "CREATE TABLE vetch_output.fleen (idx INT NULL,"
      " selectednum INT" +
      flagColumnsDefinition() +
      ");"
      "INSERT INTO vetch_output.fleen (idx, selectednum)"
      " VALUES (1, 1), (2, 1), (3, 2), (4, 2);"
      "CREATE TABLE vetch_data.sums (increment INT,"
      " name TEXT, outputfield TEXT, red TEXT, green TEXT,"
      " blue TEXT, symbol TEXT)");
  const std::string path = dir_.file("chart.eps");
  expectCompleteRun(runTallyplot({path}), path);
  test_support::execSql("DROP DATABASE vetch_output; DROP DATABASE vetch_data");
  // Without the default output database the run names it.
  ProcessResult run = runTallyplot({path});
  EXPECT_EQ(run.err, kConnectPrefix + connectError("vetch_output") + "\n");
  EXPECT_EQ(run.status, 1);
}

// Host "localhost", or none, reaches the server on its Unix socket (found
// through MYSQL_UNIX_PORT, as every client does), and the document is the
// same as over TCP.
TEST_F(RunFixture, LocalhostConnectsThroughTheUnixSocket) {
  loadValidData(*output_, *data_);
  const std::string overTcp = dir_.file("tcp.eps");
  expectCompleteRun(runTallyplot(args(overTcp)), overTcp);
  const std::string socket = test_support::serverSocket();
  ASSERT_NE(socket, "");
  // No server on the TCP port: only the socket can serve these runs.
  const std::map<std::string, std::string> env = {
      {"MYSQL_UNIX_PORT", socket},
      {"MYSQL_TCP_PORT", std::to_string(unusedPort())}};
  for (const std::string host : {"localhost", ""}) {
    SCOPED_TRACE("host \"" + host + "\"");
    const std::string path = dir_.file("socket.eps");
    std::vector<std::string> given = args(path);
    given[1] = host;
    expectCompleteRun(runTallyplot(given, env), path);
    EXPECT_TRUE(readFile(path) == readFile(overTcp))
        << "the document differs from the one written over TCP";
  }
}

// How a ChildRun starts the program: variables set on top of this
// process's environment, a signal ignored from the start (as under nohup),
// and the user to run as (0: stay root).
struct ChildOptions {
  std::map<std::string, std::string> env;
  int ignoredSignal = 0;
  uid_t uid = 0;
  bool stdoutClosed = false;  // started with standard output closed
  std::string program = test_support::tallyplotBinary();
};

// A TLS-only server gives the document of a plain one, byte for byte, to
// every account it admits; an option file asks for verified TLS or a
// client certificate, and what it asks for is refused when it cannot be;
// an empty password argument leaves the password to the option file.
TEST_F(RunFixture, LockedDownServers) {
  loadValidData(*output_, *data_);
  const std::string plain = dir_.file("plain.eps");
  expectCompleteRun(runTallyplot(args(plain)), plain);
  const int tls = test_support::tlsServerPort();
  ASSERT_NE(tls, 0);
  ScratchDatabase output("out", tls), data("dat", tls);
  loadValidData(output, data);
  const std::string suffix = std::to_string(getpid());
  const std::string ssl = "'ssl_" + suffix + "'@'127.0.0.1'";
  const std::string x509 = "'x509_" + suffix + "'@'127.0.0.1'";
  test_support::execSqlAt(
      tls, "",
      "CREATE USER " + ssl + " IDENTIFIED BY 'pw' REQUIRE SSL; CREATE USER " +
          x509 + " IDENTIFIED BY 'pw' REQUIRE X509; GRANT SELECT ON *.* TO " +
          ssl + "; GRANT SELECT ON *.* TO " + x509);
  auto optionFile = [&](const std::string& name, const std::string& text) {
    writeFile(dir_.file(name), text);
    return dir_.file(name);
  };
  using test_support::certificate;
  const std::string verified =
      optionFile("verified.cnf", "[client]\nssl-ca=" + certificate("ca.pem") +
                                     "\nssl-verify-server-cert=1\n");
  const std::string wrongCa =
      optionFile("wrong-ca.cnf",
                 "[client-mariadb]\nssl-ca=" + certificate("other-ca.pem") +
                     "\nssl-verify-server-cert=1\n");
  const std::string withCertificate = optionFile(
      "client.cnf", "[tallyplot]\nssl-cert=" + certificate("client-cert.pem") +
                        "\nssl-key=" + certificate("client-key.pem") + "\n");
  const std::string password =
      optionFile("password.cnf", "[tallyplot]\npassword=wqzk\n");
  const std::string wrongPassword =
      optionFile("wrong-password.cnf", "[client]\npassword=wrong\n");
  struct Case {
    const char* name;
    std::string user;
    std::string defaults;  // TALLYPLOT_DEFAULTS_FILE
    int port;
    std::string refusal;  // in the connection diagnostic; empty: a document
    const char* pass = nullptr;  // the argument; null: the account's
    bool piped = false;  // the file read through a pipe, which ends once
  };
  const int plainPort = test_support::serverPort();
  // Every connection must get the settings the first one got, the port
  // among them: MYSQL_TCP_PORT names none here.
  const std::string piped =
      optionFile("piped.cnf", "[client]\nport=" + std::to_string(tls) +
                                  "\nssl-ca=" + certificate("ca.pem") +
                                  "\nssl-verify-server-cert=1\n");
  const Case cases[] = {
      {"TLS required", "root", "", tls, ""},
      {"REQUIRE SSL account", "ssl_" + suffix, "", tls, ""},
      {"REQUIRE X509 account", "x509_" + suffix, withCertificate, tls, ""},
      {"verified, the right CA", "root", verified, tls, ""},
      {"verified, another CA", "root", wrongCa, tls, "certificate"},
      {"verified, a server without TLS", "root", verified, plainPort,
       "SSL is required"},
      {"password from the option file", "root", password, plainPort, "", ""},
      {"the argument's password first", "root", wrongPassword, plainPort, "",
       "wqzk"},
      {"no option file, an empty password", "root", "", plainPort,
       "(using password: NO)", ""},
      {"verified, the file through a pipe", "root", piped, tls, "", nullptr,
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const bool onTls = c.port == tls;
    const std::string path =
        dir_.file(c.refusal.empty() ? "locked.eps" : "refused.eps");
    const char* pass = c.pass ? c.pass : c.user == "root" ? "wqzk" : "pw";
    std::vector<std::string> given = {path,
                                      "127.0.0.1",
                                      c.user,
                                      pass,
                                      "cases",
                                      onTls ? data.name() : data_->name(),
                                      onTls ? output.name() : output_->name()};
    // MYSQL_PWD, which the library reads for a password it is not given,
    // must not stand in for an empty one.
    ProcessResult run =
        c.piped
            ? test_support::runProcess(
                  "bash",
                  {"-c",
                   "TALLYPLOT_DEFAULTS_FILE=<(cat \"$0\") exec \"$1\" "
                   "\"${@:2}\"",
                   c.defaults, test_support::tallyplotBinary(), given[0],
                   given[1], given[2], given[3], given[4], given[5], given[6]},
                  {{"MYSQL_TCP_PORT", std::to_string(unusedPort())},
                   {"MYSQL_PWD", "wqzk"}})
            : runTallyplot(given, {{"MYSQL_TCP_PORT", std::to_string(c.port)},
                                   {"TALLYPLOT_DEFAULTS_FILE", c.defaults},
                                   {"MYSQL_PWD", "wqzk"}});
    if (c.refusal.empty()) {
      expectCompleteRun(run, path);
      EXPECT_TRUE(readFile(path) == readFile(plain)) << "another document";
    } else {
      EXPECT_EQ(run.status, 1);
      EXPECT_EQ(run.err.rfind(kConnectPrefix, 0), 0u) << run.err;
      EXPECT_NE(run.err.find(c.refusal), std::string::npos) << run.err;
      EXPECT_FALSE(fileExists(path));
    }
  }
  test_support::execSqlAt(tls, "", "DROP USER " + ssl + "; DROP USER " + x509);
}

// The per-series plan leaves the data connection idle while it scans; a
// server that closes idle connections (wait_timeout=1, set by the option
// file) has it opened again, and the document is the one without it: the
// new session, too, gives every sums row, and names in UTF-8, whatever the
// option file's init-command sets.
TEST_F(RunFixture, ConnectionClosedWhileIdleIsOpenedAgain) {
  loadValidData(*output_, *data_);
  data_->exec(
      "INSERT INTO sums VALUES (1, 'Z\u00fcrich', 'MTL', '0', '0', '1', "
      "'plus')");
  const std::string slow = "(select * from cases where sleep(0.03) = 0) as t";
  const std::string defaults = dir_.file("idle.cnf");
  writeFile(defaults,
            "[client]\ninit-command=SET SESSION wait_timeout=1, "
            "sql_select_limit=1, character_set_results=latin1\n");
  const std::string plain = dir_.file("plain.eps"),
                    idle = dir_.file("idle.eps");
  expectCompleteRun(
      runTallyplot(args(plain, slow), {{"TALLYPLOT_PLAN", "per-series"}}),
      plain);
  expectCompleteRun(
      runTallyplot(args(idle, slow), {{"TALLYPLOT_PLAN", "per-series"},
                                      {"TALLYPLOT_DEFAULTS_FILE", defaults}}),
      idle);
  EXPECT_TRUE(readFile(idle) == readFile(plain)) << "another document";
}

// A listener that never answers ends the run with the connection
// diagnostic once the connect timeout is over (the option file's here; the
// 30 s default is read back from a connection in the query layer's tests).
TEST_F(RunFixture, SilentListenerEndsAtTheConnectTimeout) {
  const std::string quick = dir_.file("quick.cnf");
  writeFile(quick, "[client]\nconnect-timeout=2\n");
  test_support::LoopbackListener silent;  // the kernel accepts, nobody reads
  const auto start = std::chrono::steady_clock::now();
  // timeout(1) ends a run that would wait for ever.
  std::vector<std::string> given = {"60", test_support::tallyplotBinary()};
  for (const std::string& a : args(dir_.file("chart.eps"))) given.push_back(a);
  ProcessResult run = test_support::runProcess(
      "timeout", given,
      {{"MYSQL_TCP_PORT", std::to_string(silent.port())},
       {"TALLYPLOT_DEFAULTS_FILE", quick}});
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                           std::chrono::steady_clock::now() - start)
                           .count();
  EXPECT_GE(seconds, 1);
  EXPECT_LE(seconds, 10);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err.rfind(kConnectPrefix, 0), 0u) << run.err;
}

// The password every account of the stand-in has.
const char kStandInPassword[] = "s3cret-Pw";

// The MySQL 8 stand-in (tests/mysql8_standin.cc), a child listening on a
// free loopback port and a Unix socket of its own; killed, if it still
// runs, when the object goes.
class StandIn {
 public:
  // With options (words separated by spaces), and TLS if asked for.
  StandIn(const std::string& options, bool tls) {
    std::vector<std::string> argv = {
        MYSQL8_STANDIN, "--record", dir_.file("received"), "--rsa-key",
        test_support::certificate("server-key.pem")};
    std::istringstream words(options);
    for (std::string word; words >> word;) argv.push_back(word);
    if (tls) {
      argv.insert(argv.end(),
                  {"--tls", test_support::certificate("server-cert.pem"),
                   test_support::certificate("server-key.pem")});
    }
    std::vector<char*> cargv;
    for (std::string& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    const std::string events = dir_.file("events");
    const int local = listenOnUnixSocket(socket());
    int control[2];
    if (local < 0 || pipe2(control, O_CLOEXEC) != 0) {
      ADD_FAILURE() << "cannot start the stand-in: " << strerror(errno);
      return;
    }
    pid_ = fork();
    if (pid_ == 0) {
      // Out of the way of 3 and 4 first, which either may hold.
      const int tcp = fcntl(listener_.fd(), F_DUPFD, 10);
      const int socketFd = fcntl(local, F_DUPFD, 10);
      const int out = open(events.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (dup2(control[0], 0) < 0 || dup2(out, 1) < 0 || dup2(tcp, 3) < 0 ||
          dup2(socketFd, 4) < 0) {
        _exit(126);
      }
      execv(cargv[0], cargv.data());
      _exit(127);
    }
    close(local);
    close(control[0]);
    control_ = control[1];
    if (pid_ < 0) ADD_FAILURE() << "fork: " << strerror(errno);
  }
  ~StandIn() {
    if (control_ >= 0) close(control_);
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  int port() const { return listener_.port(); }
  std::string socket() const { return dir_.file("mysqld.sock"); }

  // Lets it end once its clients have gone, waiting up to 10 s. events
  // gets what it wrote: per login "<user>: <steps> <result>", and
  // "idle-close"; received every byte it was sent.
  ::testing::AssertionResult finish(std::string& events,
                                    std::string& received) {
    close(control_);
    control_ = -1;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int status = 0;
    while (pid_ > 0 && waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        return ::testing::AssertionFailure() << "the stand-in did not end";
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
    events = readFile(dir_.file("events"));
    received = readFile(dir_.file("received"));
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
      return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "the stand-in failed: " << status;
  }

 private:
  static int listenOnUnixSocket(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s",
                  path.c_str());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 &&
        (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
         listen(fd, 4) != 0)) {
      close(fd);
      return -1;
    }
    return fd;
  }

  TempDir dir_;
  test_support::LoopbackListener listener_;
  pid_t pid_ = -1;
  int control_ = -1;
};

// The stand-in speaks MySQL 8's login and results as two clients written
// without this program see them: pymysql (its own implementation of
// every step) and the mariadb command-line client (Connector/C's plugins).
TEST(StandIn, IndependentClientsLogIn) {
  const char kPyMySql[] = R"(
import sys, pymysql
user, password, link, where, ca, key = sys.argv[1:]
kw = dict(user=user, password=password, database='db', autocommit=None)
if link == 'socket': kw['unix_socket'] = where
else: kw.update(host='127.0.0.1', port=int(where))
if link == 'tls': kw['ssl'] = {'ca': ca}
if key: kw['server_public_key'] = open(key, 'rb').read()
try:
    with pymysql.connect(**kw).cursor() as cursor:
        cursor.execute('select count(idx) from t group by selectednum')
        print(cursor.fetchall())
except pymysql.err.MySQLError as e:
    print(e.args[0])
)";
  if (test_support::runProcess("/usr/bin/python3", {"-c", "import pymysql"})
          .status != 0) {
    GTEST_SKIP() << "no pymysql for /usr/bin/python3 (python3-pymysql)";
  }
  struct Check {
    const char* name;
    std::string standIn;  // its options
    const char* user;
    const char* pass;
    const char* link;  // tcp, tls, socket, pinned (a key given), or cli
    std::string events;
  };
  const Check checks[] = {
      {"full, key asked for", "", "sha2", kStandInPassword, "tcp",
       "sha2: full key-request rsa ok\n"},
      {"fast path", "--warm", "sha2", kStandInPassword, "tcp",
       "sha2: fast ok\n"},
      {"full, TLS", "", "sha2", kStandInPassword, "tls",
       "sha2: full clear ok\n"},
      {"full, socket", "", "sha2", kStandInPassword, "socket",
       "sha2: full clear ok\n"},
      {"full, key known", "", "sha2", kStandInPassword, "pinned",
       "sha2: full rsa ok\n"},
      {"wrong password", "--warm", "sha2", "wrong", "tcp",
       "sha2: full key-request rsa denied\n"},
      {"empty password", "", "nopw", "", "tcp", "nopw: empty ok\n"},
      {"sha256_password, key asked for", "", "sha256", kStandInPassword, "tcp",
       "sha256: key-request rsa ok\n"},
      {"sha256_password, TLS", "", "sha256", kStandInPassword, "tls",
       "sha256: clear ok\n"},
      {"sha256_password, empty password", "", "nopw256", "", "tcp",
       "nopw256: empty ok\n"},
      {"mariadb client, fast path after a switch",
       "--warm --greeting mysql_native_password", "sha2", kStandInPassword,
       "cli", "sha2: fast ok\n"},
  };
  for (const Check& c : checks) {
    SCOPED_TRACE(c.name);
    const std::string link = c.link;
    StandIn standIn(c.standIn, link == "tls");
    const std::string where =
        link == "socket" ? standIn.socket() : std::to_string(standIn.port());
    ProcessResult client =
        link == "cli"
            ? test_support::runProcess(
                  "mariadb",
                  {"--no-defaults", "--protocol=tcp", "-h127.0.0.1",
                   "-P" + where, std::string("-u") + c.user,
                   std::string("-p") + c.pass, "-e",
                   "select count(idx) from t group by selectednum", "db"})
            : test_support::runProcess(
                  "/usr/bin/python3",
                  {"-c", kPyMySql, c.user, c.pass,
                   link == "pinned" ? "tcp" : link, where,
                   test_support::certificate("ca.pem"),
                   link == "pinned"
                       ? test_support::certificate("server-public-key.pem")
                       : ""});
    std::string events, received;
    ASSERT_TRUE(standIn.finish(events, received));
    EXPECT_EQ(events, c.events);
    const bool in = c.events.find(" ok") != std::string::npos;
    EXPECT_EQ(client.out, !in             ? "1045\n"
                          : link == "cli" ? "count(idx)\n3\n2\n"
                                          : "(('3',), ('2',))\n")
        << client.err;
  }
}

// How a run reaches the stand-in: plain TCP (with the server's public key
// pinned by MySQL's name, by MariaDB's, in the program's own group, or a
// missing file), TLS unverified or verified, plain TCP to a server that
// offers TLS, turned off for a pinned key, or the Unix socket.
enum class Link {
  kTcp,
  kPinned,
  kPinnedMariaDb,
  kPinnedInProgramGroup,
  kMissingKey,
  kTls,
  kVerified,
  kTlsTurnedOff,
  kSocket
};

// Whether the stand-in offers TLS on the link.
bool offersTls(Link link) {
  return link == Link::kTls || link == Link::kVerified ||
         link == Link::kTlsTurnedOff;
}

// The option file of a run over link.
std::string optionsFor(Link link, const std::string& missingKey) {
  const std::string key = test_support::certificate("server-public-key.pem");
  switch (link) {
    case Link::kPinned:
      return "[client]\nserver-public-key-path=" + key + "\n";
    case Link::kPinnedMariaDb:
      return "[client]\nserver-public-key=" + key + "\n";
    case Link::kPinnedInProgramGroup:
      return "[tallyplot]\nserver-public-key-path=" + key + "\n";
    case Link::kTlsTurnedOff:
      return "[client]\nserver-public-key-path=" + key +
             "\nssl-mode=DISABLED\n";
    case Link::kMissingKey:
      return "[client]\nserver-public-key-path=" + missingKey + "\n";
    case Link::kVerified:
      return "[client]\nssl-ca=" + test_support::certificate("ca.pem") +
             "\nssl-verify-server-cert=1\n";
    default:
      return "[client]\n";
  }
}

// The refusal of a password the program cannot send safely; only
// caching_sha2_password takes it in clear over a Unix socket.
std::string refusedPassword(const std::string& method) {
  return std::string(kConnectPrefix) + "the server asked for the password (" +
         method + "), which this program sends only " +
         (method == "caching_sha2_password" ? "over the Unix socket, " : "") +
         "over TLS it verified (ssl-ca with ssl-verify-server-cert=1 in the "
         "option file), or without TLS (ssl-mode=DISABLED there) under the "
         "server's public key pinned with server-public-key-path; refused\n";
}

// The refusal of a password asked for in clear text over an open link.
std::string refusedClearText(const std::string& method) {
  return std::string(kConnectPrefix) +
         "the server asked for the password in clear text (" + method +
         ") over a connection neither verified nor local; refused\n";
}

// Accounts of every method the stand-in knows, over every link, with a
// server that has seen the password since its restart (--warm: the fast
// path) or not (full authentication): a document, or a refusal in the
// program's words with nothing of the password sent; the stand-in's view
// of each login, the server's key never asked for; and an idle connection
// it closes with 4031 opened again.
TEST_F(RunFixture, MySql8AccountsLogInWithoutGivingThePasswordAway) {
  struct Case {
    const char* name;
    std::string standIn;  // its options, besides TLS for the TLS links
    const char* user;     // "nopw..." accounts have an empty password
    Link link;
    std::string events;
    std::string err;             // the diagnostic; empty: a document
    const char* jobs = nullptr;  // the default plan on this many connections
  };
  const std::string missingKey = dir_.file("none.pem");
  const std::string clearText = refusedClearText("mysql_clear_password");
  const std::string twice = "sha2: fast ok\nsha2: fast ok\n";
  const std::string fullThenFast = "sha2: full clear ok\nsha2: fast ok\n";
  const Case cases[] = {
      {"fast", "--warm", "sha2", Link::kTcp, twice, ""},
      {"fast, after a switch from mysql_native_password",
       "--warm --greeting mysql_native_password", "sha2", Link::kTcp, twice,
       ""},
      {"full, plain TCP", "", "sha2", Link::kTcp, "sha2: full dropped\n",
       refusedPassword("caching_sha2_password")},
      {"full, TLS not verified", "", "sha2", Link::kTls, "sha2: full dropped\n",
       refusedPassword("caching_sha2_password")},
      {"full, TLS verified", "", "sha2", Link::kVerified, fullThenFast, ""},
      {"full, Unix socket", "", "sha2", Link::kSocket, fullThenFast, ""},
      {"full, key pinned by MySQL's name", "", "sha2", Link::kPinned,
       "sha2: full rsa ok\nsha2: fast ok\n", ""},
      {"full, key pinned by MariaDB's name", "", "sha2", Link::kPinnedMariaDb,
       "sha2: full rsa ok\nsha2: fast ok\n", ""},
      {"full, key pinned in [tallyplot]", "", "sha2",
       Link::kPinnedInProgramGroup, "sha2: full rsa ok\nsha2: fast ok\n", ""},
      {"full, key pinned, the server's TLS turned off", "", "sha2",
       Link::kTlsTurnedOff, "sha2: full rsa ok\nsha2: fast ok\n", ""},
      {"full, pinned key missing", "", "sha2", Link::kMissingKey,
       "sha2: full dropped\n",
       std::string(kConnectPrefix) + "cannot read the server's public key " +
           missingKey + ": No such file or directory\n"},
      {"empty password", "", "nopw", Link::kTcp,
       "nopw: empty ok\nnopw: empty ok\n", ""},
      {"sha256_password, plain TCP", "", "sha256", Link::kTcp,
       "sha256: dropped\n", refusedPassword("sha256_password")},
      {"sha256_password, TLS not verified", "", "sha256", Link::kTls,
       "sha256: dropped\n", refusedPassword("sha256_password")},
      {"sha256_password, TLS verified", "", "sha256", Link::kVerified,
       "sha256: clear ok\nsha256: clear ok\n", ""},
      {"sha256_password, Unix socket without TLS", "", "sha256", Link::kSocket,
       "sha256: dropped\n", refusedPassword("sha256_password")},
      {"sha256_password, key pinned", "", "sha256", Link::kPinned,
       "sha256: rsa ok\nsha256: rsa ok\n", ""},
      {"sha256_password, empty password", "", "nopw256", Link::kTcp,
       "nopw256: empty ok\nnopw256: empty ok\n", ""},
      {"mysql_clear_password, plain TCP", "", "clear", Link::kTcp,
       "clear: dropped\n", clearText},
      {"mysql_clear_password, TLS not verified", "", "clear", Link::kTls,
       "clear: dropped\n", clearText},
      {"dialog, plain TCP", "", "pam", Link::kTcp, "pam: dropped\n",
       refusedClearText("dialog")},
      {"dialog, TLS not verified", "", "pam", Link::kTls, "pam: dropped\n",
       refusedClearText("dialog")},
      {"dialog, TLS verified", "", "pam", Link::kVerified,
       "pam: clear ok\npam: clear ok\n", ""},
      {"dialog, Unix socket", "", "pam", Link::kSocket,
       "pam: clear ok\npam: clear ok\n", ""},
      {"a method the program does not use", "", "ldap", Link::kTcp,
       "ldap: dropped\n",
       std::string(kConnectPrefix) +
           "the server asked for an authentication method outside the ones "
           "this program uses (mysql_native_password, caching_sha2_password, "
           "sha256_password, client_ed25519, auth_gssapi_client, parsec, "
           "mysql_clear_password, dialog); refused\n"},
      {"every connection of a split scan, verified TLS", "", "sha2",
       Link::kVerified, fullThenFast + "sha2: fast ok\nsha2: fast ok\n", "",
       "3"},
      {"idle data connection closed with 4031", "--warm --close-idle-after 3",
       "sha2", Link::kTcp, twice + "idle-close\nsha2: fast ok\n", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StandIn standIn(c.standIn, offersTls(c.link));
    writeFile(dir_.file("my.cnf"), optionsFor(c.link, missingKey));
    const std::string pass =
        std::string(c.user).rfind("nopw", 0) == 0 ? "" : kStandInPassword;
    const std::string path = dir_.file("chart.eps");
    ProcessResult run =
        runTallyplot({path, c.link == Link::kSocket ? "localhost" : "127.0.0.1",
                      c.user, pass, "cases", "data", "output"},
                     {{"MYSQL_TCP_PORT", std::to_string(standIn.port())},
                      {"MYSQL_UNIX_PORT", standIn.socket()},
                      {"TALLYPLOT_DEFAULTS_FILE", dir_.file("my.cnf")},
                      {"TALLYPLOT_PLAN", c.jobs ? "" : "per-series"},
                      {"TALLYPLOT_JOBS", c.jobs ? c.jobs : ""}});
    std::string events, received;
    ASSERT_TRUE(standIn.finish(events, received));
    EXPECT_EQ(events, c.events);
    const bool privateLink =
        c.link == Link::kVerified || c.link == Link::kSocket;
    EXPECT_EQ(received.find(kStandInPassword) != std::string::npos,
              privateLink && !pass.empty() && c.err.empty())
        << "the password crossed a link where a stranger reads it";
    if (c.err.empty()) {
      expectCompleteRun(run, path);
      // The lowest group (2 rows, 1 and 3 flags) divides every point, though
      // the stand-in, like MySQL 8, sorts groups only when asked to.
      EXPECT_NE(readFile(path).find("[ 50 -50  ] drawLine"), std::string::npos);
    } else {
      EXPECT_EQ(run.err, c.err);
      EXPECT_EQ(run.status, 1);
    }
    unlink(path.c_str());
  }
}

// A started tallyplot process, killed and reaped if a test ends early. It
// signals only its own child, and only until it has reaped it: a pid of -1
// or 0 would signal every process, or the whole process group.
class ChildRun {
 public:
  ChildRun(const std::vector<std::string>& args, const std::string& outPath,
           const std::string& errPath, const ChildOptions& options = {}) {
    std::vector<std::string> argv{options.program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (std::string& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(out, STDOUT_FILENO);
      if (options.stdoutClosed) close(STDOUT_FILENO);
      dup2(err, STDERR_FILENO);
      for (const auto& [key, value] : options.env) {
        setenv(key.c_str(), value.c_str(), 1);
      }
      if (options.ignoredSignal != 0) ::signal(options.ignoredSignal, SIG_IGN);
      if (options.uid != 0 &&
          (setgroups(0, nullptr) != 0 || setgid(options.uid) != 0 ||
           setuid(options.uid) != 0)) {
        _exit(126);
      }
      execv(cargv[0], cargv.data());
      _exit(127);
    }
    if (pid_ < 0) ADD_FAILURE() << "fork: " << strerror(errno);
  }
  ~ChildRun() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  pid_t pid() const { return pid_; }
  // Sends sig to the child; fails the test instead when it has none.
  bool signal(int sig) {
    if (pid_ <= 0) {
      ADD_FAILURE() << "no running child to send " << strsignal(sig) << " to";
      return false;
    }
    return kill(pid_, sig) == 0;
  }
  // Whether the process still runs; reaps it (keeping its status) if not.
  bool running() {
    if (pid_ <= 0) return false;
    if (waitpid(pid_, &raw_, WNOHANG) != pid_) return true;
    pid_ = -1;
    return false;
  }
  // Waits for the end and returns the exit status (128 + signal if killed).
  int wait() {
    if (pid_ > 0) waitpid(pid_, &raw_, 0);
    pid_ = -1;
    return WIFEXITED(raw_) ? WEXITSTATUS(raw_) : 128 + WTERMSIG(raw_);
  }

 private:
  pid_t pid_ = -1;
  int raw_ = 0;
};

// Waits (bounded) until ready() holds, while the child still runs.
::testing::AssertionResult waitFor(ChildRun& child,
                                   const std::function<bool()>& ready,
                                   const std::string& what) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!ready()) {
    if (!child.running()) {
      return ::testing::AssertionFailure() << "the run ended before " << what;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      return ::testing::AssertionFailure() << "no " << what;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return ::testing::AssertionSuccess();
}

// Waits (bounded) for the child to end.
::testing::AssertionResult ended(ChildRun& child) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (child.running()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return ::testing::AssertionFailure() << "the run did not end";
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return ::testing::AssertionSuccess();
}

// Waits for a statement of the child like pattern to run in database.
::testing::AssertionResult waitForStatement(ChildRun& child, MYSQL* watcher,
                                            const std::string& database,
                                            const std::string& pattern) {
  const std::string running =
      "SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE DB = '" +
      database + "' AND ID <> CONNECTION_ID() AND INFO LIKE '" + pattern + "'";
  return waitFor(
      child, [&] { return rawValue(watcher, running) != "0"; }, pattern);
}

// The sanitizer settings of this process, plus leave to load a library
// ahead of the sanitizer runtime (the shim is not instrumented).
std::string asanOptionsForPreload() {
  const char* inherited = std::getenv("ASAN_OPTIONS");
  std::string options = inherited ? inherited : "";
  if (!options.empty()) options += ":";
  return options + "verify_asan_link_order=0";
}

// The user the in-place rows run as: root may replace any file.
const uid_t kNobody = 65534;

// Copies an executable file into dir, where any user may run it: the build
// may lie under a directory only its owner may enter. Returns the copy.
std::string runnableCopy(const TempDir& dir, const std::string& path) {
  const std::string copy = dir.file(path.substr(path.rfind('/') + 1));
  std::error_code error;
  std::filesystem::copy_file(path, copy, error);
  if (error || chmod(copy.c_str(), 0755) != 0) {
    ADD_FAILURE() << "cannot copy " << path << " to " << copy << ": "
                  << (error ? error.message() : strerror(errno));
  }
  return copy;
}

// A run signalled while it writes its document (the shim holds the named
// call until the test has acted) ends as the signal says, and never leaves
// a temporary file or the new document followed by old bytes.
TEST_F(RunFixture, SignalsWhileTheDocumentIsWritten) {
  struct Window {
    const char* name;
    const char* held;  // the call the run is held in
    int signal;        // sent there; 0: none
    bool ignored;      // the signal was ignored from the start
    bool inPlace;      // a file the run may write but not replace
    bool replaced;     // the path then holds the new document, else the old
  };
  // SIGPIPE is left out: the client library ignores it, so it cannot end a
  // run.
  const Window windows[] = {
      {"SIGTERM", "fsync", SIGTERM, false, false, false},
      {"SIGINT", "fsync", SIGINT, false, false, false},
      {"SIGHUP", "fsync", SIGHUP, false, false, false},
      {"SIGHUP under nohup", "fsync", SIGHUP, true, false, true},
      {"in place, synced", "fsync", 0, false, true, true},
      {"in place, SIGTERM before the truncation", "ftruncate", SIGTERM, false,
       true, true},
      // The signal thread held as the run leaves, the document written.
      {"SIGTERM after the rename, before the exit", "poll", SIGTERM, false,
       false, true},
  };
  loadValidData(*output_, *data_);
  test_support::useTestServer();  // the child inherits the port
  const std::string reference = dir_.file("reference.eps");
  expectCompleteRun(runTallyplot(args(reference)), reference);
  const std::string path = dir_.file("chart.eps");
  const std::string old = kPrevious + std::string(300000, 'o');
  ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);  // no new files for nobody
  TempDir bin;
  ASSERT_EQ(chmod(bin.path().c_str(), 0755), 0);
  const std::string program =
      runnableCopy(bin, test_support::tallyplotBinary());
  const std::string shim = runnableCopy(bin, HOLD_CALL_LIBRARY);
  ASSERT_FALSE(::testing::Test::HasFailure());
  for (const Window& w : windows) {
    SCOPED_TRACE(w.name);
    writeFile(path, old);
    const uid_t owner = w.inPlace ? kNobody : 0;
    ASSERT_EQ(chown(path.c_str(), owner, owner), 0);
    TempDir side;  // the run's streams and the shim's files
    ASSERT_EQ(chmod(side.path().c_str(), 0777), 0);
    ChildRun child(args(path), side.file("out.txt"), side.file("err.txt"),
                   {{{"LD_PRELOAD", shim},
                     {"TALLYPLOT_TEST_HOLD", w.held},
                     {"TALLYPLOT_TEST_HOLD_ENTERED", side.file("entered")},
                     {"TALLYPLOT_TEST_HOLD_RELEASE", side.file("release")},
                     {"ASAN_OPTIONS", asanOptionsForPreload()}},
                    w.ignored ? w.signal : 0,
                    owner,
                    false,
                    program});
    ASSERT_TRUE(waitFor(
        child, [&] { return fileExists(side.file("entered")); }, "entered"));
    ASSERT_TRUE(w.signal == 0 || child.signal(w.signal));
    // A signal that can act while the run is held ends it there; let the
    // run go on only where it cannot, or the signal would race the rename.
    if (w.signal == 0 || w.ignored || w.inPlace ||
        std::string(w.held) == "poll") {
      writeFile(side.file("release"), "");
    }
    // A signal that is not ignored ends the run, and its status says so.
    EXPECT_EQ(child.wait(), w.signal != 0 && !w.ignored ? 128 + w.signal : 0)
        << readFile(side.file("out.txt")) << readFile(side.file("err.txt"));
    EXPECT_TRUE(readFile(path) == (w.replaced ? readFile(reference) : old))
        << "the path holds neither the old nor exactly the new document";
    EXPECT_EQ(listDirectory(dir_.path()),
              (std::vector<std::string>{"chart.eps", "reference.eps"}));
  }
}

// Stands in for Ghostscript, first on PATH, since no real Ghostscript
// fails or waits on cue: it records its pid and leaves a file in its
// scratch directory (TMPDIR), then fails as Ghostscript does, or announces
// itself and waits (30 s at most) for a release that never comes.
const char kGhostscriptStandIn[] = R"(#!/bin/sh
here=$(dirname "$0")
echo $$ > "$here/pid"
touch "$TMPDIR/gs_scratch"
if [ "$TALLYPLOT_TEST_GS" = fail ]; then
  echo '   Error: /undefined in --planted--' >&2
  exit 1
fi
touch "$here/entered"
i=0
while [ ! -e "$here/release" ] && [ $i -lt 3000 ]; do
  sleep 0.01
  i=$((i + 1))
done
exec /usr/bin/gs "$@"
)";

// A rendering that fails, or that a signal stops, leaves the target as it
// was, no temporary file beside it, no Ghostscript process and none of its
// scratch files; a failure is reported in Ghostscript's words, and a
// signal still ends the run as the signal says.
TEST_F(RunFixture, FailedOrStoppedRenderingLeavesNothingBehind) {
  loadValidData(*output_, *data_);
  test_support::useTestServer();  // the child inherits the port
  TempDir bin, scratch, side;
  const std::string gs = bin.file("gs");
  writeFile(gs, kGhostscriptStandIn);
  ASSERT_EQ(chmod(gs.c_str(), 0755), 0);
  const std::string path = dir_.file("chart.pdf");
  struct Ending {
    const char* behaviour;
    int signal;  // sent once the stand-in waits; 0: none
    int status;
    std::string err;
  };
  const Ending endings[] = {
      {"fail", 0, 1,
       "Failed to write output file: " + path +
           ": Ghostscript failed: Error: /undefined in --planted--\n"},
      {"wait", SIGTERM, 128 + SIGTERM, ""},
  };
  for (const Ending& e : endings) {
    SCOPED_TRACE(e.behaviour);
    writeFile(path, kPrevious);
    unlink(bin.file("entered").c_str());
    ChildRun child(args(path), side.file("out.txt"), side.file("err.txt"),
                   {{{"PATH", bin.path() + ":" + std::getenv("PATH")},
                     {"TMPDIR", scratch.path()},
                     {"TALLYPLOT_TEST_GS", e.behaviour}}});
    if (e.signal != 0) {
      ASSERT_TRUE(waitFor(
          child, [&] { return fileExists(bin.file("entered")); }, "gs"));
      ASSERT_TRUE(child.signal(e.signal));
    }
    EXPECT_EQ(child.wait(), e.status);
    EXPECT_EQ(readFile(side.file("err.txt")), e.err);
    EXPECT_EQ(readFile(path), kPrevious);
    EXPECT_EQ(listDirectory(dir_.path()),
              std::vector<std::string>{"chart.pdf"});
    EXPECT_EQ(listDirectory(scratch.path()), std::vector<std::string>{});
    std::string pid = readFile(bin.file("pid"));
    EXPECT_FALSE(fileExists("/proc/" + pid.substr(0, pid.find('\n'))))
        << "Ghostscript still runs";
  }
}

// The arguments of the process, as the process list shows them.
std::vector<std::string> processArguments(pid_t pid) {
  std::string cmdline = readFile("/proc/" + std::to_string(pid) + "/cmdline");
  std::vector<std::string> args;
  size_t start = 0;
  for (size_t end; (end = cmdline.find('\0', start)) != std::string::npos;
       start = end + 1) {
    args.push_back(cmdline.substr(start, end - start));
  }
  return args;
}

// While the run waits, for a table another session holds locked or for an
// option file that is a pipe nothing has written to yet (a passphrase
// prompt, say), the process list shows no password.
TEST_F(RunFixture, PasswordIsMaskedWhileTheRunWaits) {
  loadValidData(*output_, *data_);
  test_support::useTestServer();  // the child inherits the port
  std::string error;
  RawConnection locker = rawConnect(output_->name(), error);
  RawConnection watcher = rawConnect(output_->name(), error);
  ASSERT_TRUE(locker && watcher) << error;
  const std::string fifo = dir_.file("options.cnf");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0) << strerror(errno);
  for (const bool piped : {false, true}) {
    SCOPED_TRACE(piped ? "an option file not yet written" : "a locked table");
    if (!piped) rawValue(locker.get(), "LOCK TABLES cases WRITE");
    const std::string path = dir_.file("chart.eps");
    const std::vector<std::string> given = args(path);
    ChildRun child(given, dir_.file("out.txt"), dir_.file("err.txt"),
                   {{{"TALLYPLOT_DEFAULTS_FILE", piped ? fifo : ""}}});
    ASSERT_GT(child.pid(), 0);
    int writer = -1;  // opens once the run has opened the pipe to read
    ASSERT_TRUE(piped ? waitFor(
                            child,
                            [&] {
                              writer = open(fifo.c_str(),
                                            O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                              return writer >= 0;
                            },
                            "the option file opened")
                      : waitForStatement(child, watcher.get(), output_->name(),
                                         "select % from cases %"));
    std::vector<std::string> expected{test_support::tallyplotBinary()};
    expected.insert(expected.end(), given.begin(), given.end());
    expected[4] = std::string(given[3].size(), 'x');
    EXPECT_EQ(processArguments(child.pid()), expected);
    if (piped) {
      EXPECT_EQ(write(writer, "[client]\n", 9), 9) << strerror(errno);
      close(writer);
    } else {
      rawValue(locker.get(), "UNLOCK TABLES");
    }
    const int status = child.wait();
    expectCompleteRun({status, readFile(dir_.file("out.txt")),
                       readFile(dir_.file("err.txt"))},
                      path);
  }
}

// Lines of the server's error log that report a connection to database
// as aborted, i.e. dropped without the client saying goodbye.
int abortedConnections(MYSQL* conn, const std::string& database) {
  std::string log = readFile(rawValue(conn, "SELECT @@log_error"));
  const std::string needle = "to db: '" + database + "'";
  int count = 0;
  for (size_t at = log.find(needle); at != std::string::npos;
       at = log.find(needle, at + 1)) {
    size_t lineStart = log.rfind('\n', at);
    lineStart = lineStart == std::string::npos ? 0 : lineStart;
    if (log.find("Aborted connection", lineStart) < at) ++count;
  }
  return count;
}

// Waits (bounded) until the server holds no connection to any of the
// databases. The server logs an aborted connection before it drops the
// connection's thread, so after this the log is complete for them.
void waitUntilDisconnected(MYSQL* watcher,
                           const std::vector<std::string>& databases) {
  std::string list;
  for (const std::string& db : databases) {
    list += (list.empty() ? "'" : ", '") + db + "'";
  }
  const std::string query =
      "SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE DB IN (" +
      list + ")";
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (rawValue(watcher, query) != "0") {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline)
        << "connections still open to " << list;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// Both connections are closed with a goodbye, after a complete run, after
// a run that fails once both are open, and after one stopped by SIGINT or
// SIGTERM while its aggregate runs, which stops the statement on the server
// too; otherwise the server counts an aborted client and logs a warning
// for every run. A run started with standard output closed keeps that
// number for a stand-in: a diagnostic must never go into a connection.
TEST_F(RunFixture, RunsCloseBothConnections) {
  ScratchDatabase control("ctl");
  std::string error;
  RawConnection watcher = rawConnect("", error);
  ASSERT_TRUE(watcher) << error;
  // Control: a client that leaves without a goodbye is logged, so the
  // checks below can see one.
  pid_t pid = fork();
  ASSERT_GE(pid, 0) << strerror(errno);
  if (pid == 0) {
    std::string ignored;
    RawConnection dropped = rawConnect(control.name(), ignored);
    _exit(dropped ? 0 : 1);
  }
  int raw = 0;
  waitpid(pid, &raw, 0);
  ASSERT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0);

  loadValidData(*output_, *data_);
  const std::string path = dir_.file("chart.eps");
  expectCompleteRun(runTallyplot(args(path)), path);
  // Fails inside the query layer, with both connections open.
  data_->exec("DROP TABLE sums");
  ProcessResult failed = runTallyplot(args(path));
  EXPECT_EQ(failed.status, 1);
  EXPECT_NE(failed.out.find("Failure to execute"), std::string::npos);

  // A minute to scan, unless the run stops it on the server: the
  // connection of a statement that ran on would outlast the bounded wait
  // for the disconnect below.
  const std::string slow = "(select * from cases where sleep(10) = 0) as t";
  createSums(*data_);
  test_support::useTestServer();  // the child inherits the port
  // A signal while a connection opens, its init-command running: no
  // statement to stop, only connections to close.
  const std::string opening = dir_.file("opening.cnf");
  writeFile(opening, "[client]\ninit-command=DO SLEEP(0.5)\n");
  struct Stop {
    int signal;
    std::string defaults;  // TALLYPLOT_DEFAULTS_FILE
    const char* running;   // the statement the signal arrives in
  };
  const Stop stops[] = {
      {SIGINT, "", "select selectednum, count(idx)%"},
      {SIGTERM, "", "select selectednum, count(idx)%"},
      {SIGTERM, opening, "DO SLEEP(0.5)"},
  };
  for (const Stop& stop : stops) {
    const int signal = stop.signal;
    SCOPED_TRACE(std::string(strsignal(signal)) + " in " + stop.running);
    ChildRun child(
        args(dir_.file("new.eps"), slow), dir_.file("out.txt"),
        dir_.file("err.txt"),
        {{{"TALLYPLOT_DEFAULTS_FILE", stop.defaults}}, 0, 0, signal == SIGINT});
    ASSERT_TRUE(
        waitForStatement(child, watcher.get(), output_->name(), stop.running));
    char out[PATH_MAX] = {};
    readlink(("/proc/" + std::to_string(child.pid()) + "/fd/1").c_str(), out,
             sizeof out - 1);
    EXPECT_EQ(std::string(out), signal == SIGINT
                                    ? "/memfd:tallyplot-closed-stream (deleted)"
                                    : dir_.file("out.txt"));
    ASSERT_TRUE(child.signal(signal));
    EXPECT_EQ(child.wait(), 128 + signal);
    ASSERT_NO_FATAL_FAILURE(
        waitUntilDisconnected(watcher.get(), {output_->name()}))
        << "the statement ran on";
    EXPECT_FALSE(fileExists(dir_.file("new.eps")));
  }

  waitUntilDisconnected(watcher.get(),
                        {control.name(), output_->name(), data_->name()});
  EXPECT_EQ(abortedConnections(watcher.get(), control.name()), 1);
  EXPECT_EQ(abortedConnections(watcher.get(), output_->name()), 0);
  EXPECT_EQ(abortedConnections(watcher.get(), data_->name()), 0);
}

// A scan split over several connections stops every range when one stops:
// a DBA's KILL QUERY on one range ends the run with that range's failure,
// SIGINT or SIGTERM with the signal. The ranges wait on a table lock held
// throughout, so only KILL QUERY ends them: once the run has ended, no
// statement of it may run on, and no connection was dropped unannounced.
TEST_F(RunFixture, SplitScanStopsEveryRange) {
  output_->exec(
      "CREATE TABLE ranged (idx INT NOT NULL PRIMARY KEY, selectednum INT" +
      flagColumnsDefinition() +
      "); INSERT INTO ranged (idx, selectednum) SELECT seq, seq % 3 FROM "
      "seq_1_to_40");
  createSums(*data_);
  test_support::useTestServer();  // the child inherits the port
  std::string error;
  RawConnection locker = rawConnect("", error);
  RawConnection watcher = rawConnect("", error);
  ASSERT_TRUE(locker && watcher) << error;
  const std::string range = "select selectednum, count(idx)% where idx >=%";
  const std::string path = dir_.file("chart.eps");
  for (const int signal : {0, SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal == 0 ? "KILL QUERY on one range" : strsignal(signal));
    TempDir side;  // the run's streams and the shim's files
    ChildRun child(args(path, "ranged"), side.file("out.txt"),
                   side.file("err.txt"),
                   {{{"LD_PRELOAD", HOLD_CALL_LIBRARY},
                     {"TALLYPLOT_TEST_HOLD", "mysql_thread_init"},
                     {"TALLYPLOT_TEST_HOLD_ENTERED", side.file("entered")},
                     {"TALLYPLOT_TEST_HOLD_RELEASE", side.file("release")},
                     {"ASAN_OPTIONS", asanOptionsForPreload()},
                     {"TALLYPLOT_JOBS", "4"}}});
    ASSERT_TRUE(waitFor(
        child, [&] { return fileExists(side.file("entered")); }, "entered"));
    rawValue(locker.get(),
             "LOCK TABLES `" + output_->name() + "`.ranged WRITE");
    writeFile(side.file("release"), "");
    ASSERT_TRUE(waitForStatement(child, watcher.get(), output_->name(), range));
    std::string killed;
    if (signal == 0) {
      const auto running = test_support::queryRows(
          "SELECT ID, INFO FROM information_schema.PROCESSLIST WHERE INFO "
          "LIKE '" +
          range + "' AND DB = '" + output_->name() + "' LIMIT 1");
      ASSERT_EQ(running.size(), 1u);
      killed = running[0][1];
      test_support::execSql("KILL QUERY " + running[0][0]);
    } else {
      ASSERT_TRUE(child.signal(signal));
    }
    ASSERT_TRUE(ended(child)) << "a range was not stopped";
    EXPECT_EQ(child.wait(), signal == 0 ? 1 : 128 + signal);
    if (signal == 0) {
      EXPECT_EQ(readFile(side.file("out.txt")),
                test_support::queryFailure("Query execution was interrupted",
                                           killed));
    }
    ASSERT_NO_FATAL_FAILURE(
        waitUntilDisconnected(watcher.get(), {output_->name(), data_->name()}))
        << "a range ran on";
    rawValue(locker.get(), "UNLOCK TABLES");
    EXPECT_FALSE(fileExists(path));
  }
  EXPECT_EQ(abortedConnections(watcher.get(), output_->name()), 0);
  EXPECT_EQ(abortedConnections(watcher.get(), data_->name()), 0);
}

}  // namespace
