// Helpers shared by the tests: the throwaway server, child processes with
// both streams captured, Ghostscript rendering and temporary files.
#include "test_support.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <mysql.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>

extern char** environ;

namespace test_support {
namespace {

constexpr char kHost[] = "127.0.0.1";
constexpr char kUser[] = "root";
constexpr char kPassword[] = "wqzk";
// Printed by the EndPage hook for every page Ghostscript completes.
constexpr char kPageMarker[] = "%%TallyplotTestPage";

// The port recorded in a server directory of tests/mariadb_server.sh, or 0
// when no server runs there.
int readPortFile(const std::string& path) {
  std::ifstream in(path);
  int port = 0;
  if (!(in >> port) || port <= 0 || port > 65535) return 0;
  return port;
}

// The port of the test server the CTest fixture started, or 0.
int readServerPort() {
  return readPortFile(std::string(TEST_SERVER_DIR) + "/port");
}

// Closes a MYSQL handle opened by connectAt().
struct MysqlCloser {
  void operator()(MYSQL* conn) const { mysql_close(conn); }
};
using MysqlHandle = std::unique_ptr<MYSQL, MysqlCloser>;

// Opens a root connection to 127.0.0.1:port with multi-statement support;
// fails the test and returns null when that is not possible.
MysqlHandle connectAt(int port, const std::string& database) {
  if (port == 0) return nullptr;
  MysqlHandle conn(mysql_init(nullptr));
  if (!conn) {
    ADD_FAILURE() << "mysql_init failed";
    return nullptr;
  }
  const char* db = database.empty() ? nullptr : database.c_str();
  // TLS when offered: the TLS test server takes nothing else.
  mysql_ssl_set(conn.get(), nullptr, nullptr, nullptr, nullptr, nullptr);
  if (!mysql_real_connect(conn.get(), kHost, kUser, kPassword, db, port,
                          nullptr, CLIENT_MULTI_STATEMENTS)) {
    ADD_FAILURE() << "cannot connect to the server on port " << port << ": "
                  << mysql_error(conn.get());
    return nullptr;
  }
  return conn;
}

// Sends sql and drains every result it produces; fails the test with the
// server's message on the first error.
void runStatements(MYSQL* conn, const std::string& sql) {
  if (mysql_real_query(conn, sql.data(), sql.size()) != 0) {
    ADD_FAILURE() << "SQL failed: " << mysql_error(conn) << "\n  in: " << sql;
    return;
  }
  for (;;) {
    MYSQL_RES* result = mysql_store_result(conn);
    if (result) {
      mysql_free_result(result);
    } else if (mysql_field_count(conn) != 0) {
      ADD_FAILURE() << "SQL result lost: " << mysql_error(conn)
                    << "\n  in: " << sql;
      return;
    }
    int next = mysql_next_result(conn);
    if (next < 0) return;
    if (next > 0) {
      ADD_FAILURE() << "SQL failed: " << mysql_error(conn) << "\n  in: " << sql;
      return;
    }
  }
}

// Finds program on PATH unless it already names a file by path.
std::string resolveProgram(const std::string& program) {
  if (program.find('/') != std::string::npos) return program;
  const char* path = std::getenv("PATH");
  std::istringstream dirs(path ? path : "/usr/local/bin:/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    std::string candidate = (dir.empty() ? "." : dir) + "/" + program;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return program;
}

// The child's environment: ours, the test server's port, then the extras.
std::vector<std::string> childEnvironment(
    const std::map<std::string, std::string>& env) {
  std::map<std::string, std::string> vars;
  for (char** entry = environ; *entry; ++entry) {
    std::string text(*entry);
    size_t eq = text.find('=');
    if (eq != std::string::npos) vars[text.substr(0, eq)] = text.substr(eq + 1);
  }
  int port = readServerPort();
  if (port != 0) vars["MYSQL_TCP_PORT"] = std::to_string(port);
  for (const auto& [key, value] : env) vars[key] = value;
  std::vector<std::string> result;
  for (const auto& [key, value] : vars) result.push_back(key + "=" + value);
  return result;
}

// Null-terminated pointer array over strings that outlive it.
std::vector<char*> cStrings(std::vector<std::string>& strings) {
  std::vector<char*> result;
  for (std::string& s : strings) result.push_back(s.data());
  result.push_back(nullptr);
  return result;
}

// Runs in the forked child: wires the pipes and replaces the process.
[[noreturn]] void execChild(const char* path, char* const argv[],
                            char* const envp[], int outFd, int errFd) {
  int devNull = open("/dev/null", O_RDONLY);
  if (devNull >= 0) dup2(devNull, STDIN_FILENO);
  dup2(outFd, STDOUT_FILENO);
  dup2(errFd, STDERR_FILENO);
  execve(path, argv, envp);
  const char message[] = "test_support: execve failed\n";
  ssize_t ignored = write(STDERR_FILENO, message, sizeof message - 1);
  (void)ignored;
  _exit(127);
}

// Reads both pipes until both reach end of file, whichever fills first.
void drainPipes(int outFd, int errFd, std::string& out, std::string& err) {
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  std::string* sinks[2] = {&out, &err};
  int open = 2;
  char buffer[65536];
  while (open > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      ADD_FAILURE() << "poll failed: " << std::strerror(errno);
      return;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
}

// Waits for pid and encodes its end as an exit status or 128 + signal.
int waitForChild(pid_t pid) {
  int raw = 0;
  while (waitpid(pid, &raw, 0) < 0) {
    if (errno != EINTR) {
      ADD_FAILURE() << "waitpid failed: " << std::strerror(errno);
      return -1;
    }
  }
  if (WIFEXITED(raw)) return WEXITSTATUS(raw);
  if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
  return -1;
}

int removeEntry(const char* path, const struct stat*, int, struct FTW*) {
  return remove(path);
}

// Counts the non-overlapping occurrences of needle in text.
int countOccurrences(const std::string& text, const std::string& needle) {
  int count = 0;
  for (size_t at = text.find(needle); at != std::string::npos;
       at = text.find(needle, at + needle.size())) {
    ++count;
  }
  return count;
}

}  // namespace

int serverPort() {
  int port = readServerPort();
  if (port == 0) {
    ADD_FAILURE() << "no test server: " << TEST_SERVER_DIR
                  << "/port is missing (run the tests through ctest, which "
                     "starts the server)";
  }
  return port;
}

std::string serverSocket() {
  std::ifstream in(std::string(TEST_SERVER_DIR) + "/socket");
  std::string socket;
  if (!std::getline(in, socket) || socket.empty()) {
    ADD_FAILURE() << "no test server: " << TEST_SERVER_DIR
                  << "/socket is missing (run the tests through ctest, which "
                     "starts the server)";
    return "";
  }
  return socket;
}

int tlsServerPort() {
  int port = readPortFile(std::string(TEST_TLS_DIR) + "/port");
  if (port == 0) ADD_FAILURE() << "no TLS test server in " << TEST_TLS_DIR;
  return port;
}

std::string certificate(const std::string& name) {
  return std::string(TEST_CERT_DIR) + "/" + name;
}

LoopbackListener::LoopbackListener(bool listening) {
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof addr;
  auto* address = reinterpret_cast<sockaddr*>(&addr);
  if (bind(fd_, address, sizeof addr) != 0 ||
      (listening && listen(fd_, 4) != 0) ||
      getsockname(fd_, address, &length) != 0) {
    ADD_FAILURE() << "cannot listen on 127.0.0.1: " << std::strerror(errno);
    return;
  }
  port_ = ntohs(addr.sin_port);
}

LoopbackListener::~LoopbackListener() {
  if (fd_ >= 0) close(fd_);
}

void useTestServer() {
  int port = serverPort();
  if (port != 0) setenv("MYSQL_TCP_PORT", std::to_string(port).c_str(), 1);
}

void execSql(const std::string& sql) { execSqlAt(serverPort(), "", sql); }

ScratchDatabase::ScratchDatabase(const std::string& prefix, int port)
    : port_(port == 0 ? serverPort() : port) {
  static int counter = 0;
  name_ =
      prefix + "_" + std::to_string(getpid()) + "_" + std::to_string(++counter);
  execSqlAt(port_, "",
            "DROP DATABASE IF EXISTS `" + name_ + "`; CREATE DATABASE `" +
                name_ + "`");
}

ScratchDatabase::~ScratchDatabase() {
  execSqlAt(port_, "", "DROP DATABASE IF EXISTS `" + name_ + "`");
}

void ScratchDatabase::exec(const std::string& sql) const {
  execSqlAt(port_, name_, sql);
}

ProcessResult runProcess(const std::string& program,
                         const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env,
                         const std::string& argv0) {
  ProcessResult result;
  std::string path = resolveProgram(program);
  std::vector<std::string> argvStrings{argv0.empty() ? program : argv0};
  argvStrings.insert(argvStrings.end(), args.begin(), args.end());
  std::vector<std::string> envStrings = childEnvironment(env);
  std::vector<char*> argv = cStrings(argvStrings);
  std::vector<char*> envp = cStrings(envStrings);

  int outPipe[2], errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe failed: " << std::strerror(errno);
    return result;
  }
  if (pipe2(errPipe, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe failed: " << std::strerror(errno);
    close(outPipe[0]);
    close(outPipe[1]);
    return result;
  }
  pid_t pid = fork();
  if (pid == 0) {
    execChild(path.c_str(), argv.data(), envp.data(), outPipe[1], errPipe[1]);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  if (pid < 0) {
    ADD_FAILURE() << "fork failed: " << std::strerror(errno);
    close(outPipe[0]);
    close(errPipe[0]);
    return result;
  }
  drainPipes(outPipe[0], errPipe[0], result.out, result.err);
  result.status = waitForChild(pid);
  return result;
}

ProcessResult runTallyplot(const std::vector<std::string>& args,
                           const std::map<std::string, std::string>& env) {
  return runProcess(tallyplotBinary(), args, env);
}

std::string tallyplotBinary() { return TALLYPLOT_BINARY; }

RenderResult renderWithGhostscript(const std::string& path) {
  // The hook reports every page the document completes; it survives the
  // document's own setpagedevice, which only merges the keys it names.
  const std::string hook = std::string("<< /EndPage { exch pop dup 2 ne { (") +
                           kPageMarker +
                           "\\n) print flush } if 2 ne } bind >> "
                           "setpagedevice";
  ProcessResult gs =
      runProcess("gs", {"-q", "-dSAFER", "-dBATCH", "-dNOPAUSE",
                        "-sDEVICE=nullpage", "-c", hook, "-f", path});
  RenderResult result;
  result.log = gs.out + gs.err;
  result.pages = countOccurrences(gs.out, kPageMarker);
  result.ok = gs.status == 0 && result.log.find("Error:") == std::string::npos;
  return result;
}

std::string ghostscriptText(const std::string& path) {
  ProcessResult gs =
      runProcess("gs", {"-q", "-dSAFER", "-dBATCH", "-dNOPAUSE",
                        "-sDEVICE=txtwrite", "-sOutputFile=-", path});
  EXPECT_EQ(gs.status, 0) << gs.err;
  return gs.out;
}

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base && *base ? base : "/tmp") + "/tallyplot-test-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) {
    ADD_FAILURE() << "mkdtemp failed for " << pattern << ": "
                  << std::strerror(errno);
    return;
  }
  path_ = buffer.data();
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  // Tests may leave read-only files or directories behind; make them
  // removable first.
  nftw(
      path_.c_str(),
      [](const char* p, const struct stat* st, int type, struct FTW*) {
        if (type == FTW_D || type == FTW_DNR) chmod(p, st->st_mode | S_IRWXU);
        return 0;
      },
      16, FTW_PHYS);
  nftw(path_.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    ADD_FAILURE() << "cannot read " << path;
    return "";
  }
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void writeFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  out.close();
  if (!out) ADD_FAILURE() << "cannot write " << path;
}

bool fileExists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> listDirectory(const std::string& path) {
  std::vector<std::string> names;
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) {
    ADD_FAILURE() << "cannot list " << path << ": " << strerror(errno);
    return names;
  }
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string::size_type start = 0;
  while (start < text.size()) {
    std::string::size_type end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

const FixedSeries kFixedSeries[15] = {
    {"All Resources", "any_exceeded_inc", "square", "0.627 0.627 0.976"},
    {"Crew Training", "crewtrng_xcd", "diamond", "0.973 0.592 0.361"},
    {"Crew Time", "crewtime_xcd", "circle", "0.773 1520.596 0.886"},
    {"Upmass", "upmass_xcd", "triangle", "0.239 0.843 1"},
    {"Keep-alive Power", "keepalive_xcd", "diamond", "0 0.106 0.357"},
    {"Stowage", "stowage_xcd", "cross", "0.718 0.035 0.035"},
    {"Middecks", "middecks_xcd", "square", "1 0.616 0.165"},
    {"Energy", "energy_xcd", "circle", "0 0.424 0"},
    {"Crew-Tended Energy", "energy_crewtend_xcd", "asterisk",
     "0.957 0.678 0.733"},
    {"Acoustics", "acoustics_xcd", "plus", "0.216 0.651 0.604"},
    {"Crew-Tended Acoustics", "acoustics_crewtend_xcd", "underscore", "0 0 1"},
    {"MTL", "MTL_xcd", "smallsquare", "1 0 1"},
    {"Crew-Tended MTL", "MTL_crewtend_xcd", "smallasterisk", "0.419 0.031 0.5"},
    {"LTL", "LTL_xcd", "triangle", "0.094 0.804 0.094"},
    {"Crew-Tended LTL", "LTL_crewtend_xcd", "smallcircle", "0.424 0 0"},
};

std::string demoSql(const std::string& outputDb, const std::string& dataDb) {
  std::string sql = readFile(DEMO_SQL);
  const std::vector<std::pair<std::string, std::string>> names = {
      {"vetch_output", outputDb}, {"vetch_data", dataDb}};
  for (const auto& [from, to] : names) {
    for (size_t at = sql.find(from); at != std::string::npos;
         at = sql.find(from, at + to.size())) {
      sql.replace(at, from.size(), to);
    }
  }
  return sql;
}

std::string clusterDir() { return TEST_CLUSTER_DIR; }

int clusterFrontendPort() {
  int port = readPortFile(clusterDir() + "/port");
  if (port == 0) {
    ADD_FAILURE() << "no test cluster: " << clusterDir()
                  << "/port is missing (run the tests through ctest, which "
                     "starts the cluster)";
  }
  return port;
}

int clusterBackendPort(int k) {
  int port = readPortFile(clusterDir() + "/b" + std::to_string(k) + "/port");
  if (port == 0) ADD_FAILURE() << "backend " << k << " of the cluster is gone";
  return port;
}

void execSqlAt(int port, const std::string& database, const std::string& sql) {
  MysqlHandle conn = connectAt(port, database);
  if (conn) runStatements(conn.get(), sql);
}

std::string queryFailure(const std::string& error, const std::string& query) {
  return "Failure to execute: \n\t" + error + "\n\n\tOn query: \"" + query +
         "\"\n";
}

std::string serverError(const std::string& database, const std::string& query,
                        int port) {
  MysqlHandle conn = connectAt(port == 0 ? serverPort() : port, database);
  if (!conn) return "";
  if (mysql_real_query(conn.get(), query.data(), query.size()) != 0) {
    return mysql_error(conn.get());
  }
  MYSQL_RES* result = mysql_store_result(conn.get());
  if (result) mysql_free_result(result);
  return mysql_error(conn.get());
}

std::string connectError(const std::string& database, const std::string& host,
                         const std::string& user, const std::string& pass,
                         int port) {
  MysqlHandle conn(mysql_init(nullptr));
  const char* db = database.empty() ? nullptr : database.c_str();
  if (mysql_real_connect(conn.get(), host.c_str(), user.c_str(), pass.c_str(),
                         db, port == 0 ? serverPort() : port, nullptr,
                         0) != nullptr) {
    return "";
  }
  return mysql_error(conn.get());
}

std::vector<std::vector<std::string>> queryRows(const std::string& query,
                                                int port) {
  std::vector<std::vector<std::string>> rows;
  MysqlHandle conn = connectAt(port == 0 ? serverPort() : port, "");
  if (!conn) return rows;
  if (mysql_query(conn.get(), query.c_str()) != 0) {
    ADD_FAILURE() << mysql_error(conn.get()) << "\n  in: " << query;
  } else if (MYSQL_RES* result = mysql_store_result(conn.get())) {
    while (MYSQL_ROW row = mysql_fetch_row(result)) {
      rows.emplace_back();
      for (unsigned i = 0; i < mysql_num_fields(result); ++i) {
        rows.back().push_back(row[i] ? row[i] : "NULL");
      }
    }
    mysql_free_result(result);
  }
  return rows;
}

}  // namespace test_support
