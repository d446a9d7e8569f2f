// Helpers shared by the tests that need the throwaway MariaDB server, the
// built tallyplot binary or Ghostscript.
#ifndef TALLYPLOT_TESTS_SUPPORT_TEST_SUPPORT_H_
#define TALLYPLOT_TESTS_SUPPORT_TEST_SUPPORT_H_

#include <map>
#include <string>
#include <vector>

namespace test_support {

// The loopback port of the throwaway server the CTest fixture started.
// Fails the current test (and returns 0) when no server is running.
int serverPort();

// The Unix socket of the throwaway server the CTest fixture started.
// Fails the current test (and returns "") when no server is running.
std::string serverSocket();

// The loopback port of the throwaway server that accepts only TLS, and the
// path of one of its certificate files (ca.pem, other-ca.pem,
// client-cert.pem, client-key.pem). The port fails the current test (and
// is 0) when that server is not running.
int tlsServerPort();
std::string certificate(const std::string& name);

// A socket bound to a free port on 127.0.0.1, listening unless asked not
// to; closed when the object goes. One that listens but never accepts
// still completes the TCP handshake: a server that never answers.
class LoopbackListener {
 public:
  explicit LoopbackListener(bool listening = true);
  ~LoopbackListener();
  LoopbackListener(const LoopbackListener&) = delete;
  LoopbackListener& operator=(const LoopbackListener&) = delete;
  int fd() const { return fd_; }
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// Points this process's client library at the test server: sets
// MYSQL_TCP_PORT so connections on the default port reach it.
void useTestServer();

// Runs one or more ';'-separated SQL statements as root/wqzk over TCP on
// 127.0.0.1 (no default database). Any error fails the current test with
// the server's message and the statement.
void execSql(const std::string& sql);

// A fresh, uniquely named database on the test server, dropped again when
// the object goes.
class ScratchDatabase {
 public:
  // On the server on 127.0.0.1:port (0: the test server).
  explicit ScratchDatabase(const std::string& prefix = "t", int port = 0);
  ~ScratchDatabase();
  ScratchDatabase(const ScratchDatabase&) = delete;
  ScratchDatabase& operator=(const ScratchDatabase&) = delete;
  const std::string& name() const { return name_; }
  // Runs statements with this database as the default one.
  void exec(const std::string& sql) const;

 private:
  std::string name_;
  int port_;
};

// What a finished child process left behind.
struct ProcessResult {
  int status = -1;  // exit status, or 128 + signal number
  std::string out;  // everything written to standard output
  std::string err;  // everything written to standard error
};

// Runs program with args (argv[0] is program itself unless argv0 is given),
// with the extra environment variables set (MYSQL_TCP_PORT of the test
// server is always set), capturing both streams.
ProcessResult runProcess(const std::string& program,
                         const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env = {},
                         const std::string& argv0 = "");

// Runs the built tallyplot binary.
ProcessResult runTallyplot(const std::vector<std::string>& args,
                           const std::map<std::string, std::string>& env = {});

// The path of the built tallyplot binary.
std::string tallyplotBinary();

// Ghostscript's verdict on a document.
struct RenderResult {
  bool ok = false;  // exit status 0 and no PostScript error reported
  int pages = 0;    // pages rendered
  std::string log;  // Ghostscript's combined output
};

// Renders path with gs -dSAFER -dBATCH -dNOPAUSE on the nullpage device.
RenderResult renderWithGhostscript(const std::string& path);

// The text Ghostscript's txtwrite device finds on every page of the
// document at path, in UTF-8; fails the test when it cannot render it.
std::string ghostscriptText(const std::string& path);

// A temporary directory removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Whole-file helpers; readFile fails the test when the file is missing.
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);
bool fileExists(const std::string& path);

// The names in a directory, sorted, without "." and ".."; fails the test
// when it cannot be listed.
std::vector<std::string> listDirectory(const std::string& path);

// The lines of text, without their line feeds.
std::vector<std::string> splitLines(const std::string& text);

// One of the fifteen series every chart has.
struct FixedSeries {
  const char* name;
  const char* column;
  const char* glyph;
  const char* color;
};

// The fixed series, written out here as well as in the program, so that a
// typo in the program's table fails a test.
extern const FixedSeries kFixedSeries[15];

// demo/demo.sql with its two database names replaced.
std::string demoSql(const std::string& outputDb, const std::string& dataDb);

// The directory of the throwaway Spider cluster the cluster CTest fixture
// started with tests/mariadb_cluster.sh (its commands take this path).
std::string clusterDir();

// The loopback port of that cluster's frontend. Fails the current test (and
// returns 0) when no cluster is running.
int clusterFrontendPort();

// The loopback port of backend k of that cluster. Fails the current test
// (and returns 0) when the backend is not running.
int clusterBackendPort(int k);

// Runs ';'-separated SQL as root/wqzk on 127.0.0.1:port, in database when it
// is not empty. Any error fails the current test.
void execSqlAt(int port, const std::string& database, const std::string& sql);

// The query-failure diagnostic: the server's error text and the query.
std::string queryFailure(const std::string& error, const std::string& query);

// The error message the server on 127.0.0.1:port (0: the test server)
// gives for query in database, or "" when the query succeeds.
std::string serverError(const std::string& database, const std::string& query,
                        int port = 0);

// The client library's error text for a connection with these settings to
// port (0: the test server's), or "" when it succeeds.
std::string connectError(const std::string& database,
                         const std::string& host = "127.0.0.1",
                         const std::string& user = "root",
                         const std::string& pass = "wqzk", int port = 0);

// Every row of query, run as root on 127.0.0.1:port (0: the test server),
// its fields as text ("NULL" for NULL). Any error fails the current test.
std::vector<std::vector<std::string>> queryRows(const std::string& query,
                                                int port = 0);

}  // namespace test_support

#endif  // TALLYPLOT_TESTS_SUPPORT_TEST_SUPPORT_H_
