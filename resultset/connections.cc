#include "connections.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "connection_setup.h"

namespace {

// Every connection opened and not yet closed, with its settings. The run's
// threads open and close them; the signal thread reads the settings and
// may close them all once the statements it cancelled have ended.
struct Registry {
  std::mutex mutex;
  std::map<MYSQL*, ConnectionSettings> open;
};

// The connection of this thread's last statement: one that sat idle while
// the thread worked on another may have been closed by the server meanwhile.
// A thread that keeps to one connection never finds it so.
thread_local MYSQL* lastUsed = nullptr;

// Never destroyed, like the other shared state here: the signal thread may
// still use it while the process exits.
Registry& registry() {
  static auto* instance = new Registry;
  return *instance;
}

// What the run's own threads do with the connections, and the statements
// in flight. Taken before the registry's lock where both are.
struct Flight {
  std::mutex mutex;
  std::condition_variable changed;
  int busy = 0;  // uses of a connection by the run's threads
  // The statements in flight: their connections and server threads, for
  // KILL QUERY.
  std::map<MYSQL*, unsigned long> statements;
  bool cancelling = false;  // never reset: the process ends
  bool killing = false;     // a connection sending KILL QUERY is open
};

Flight& flight() {
  static auto* instance = new Flight;
  return *instance;
}

// Opens the initialised conn with settings; false, with the reason in
// error, when it cannot be opened.
bool connectWith(MYSQL* conn, const ConnectionSettings& s, std::string& error) {
  // No socket name: the library then uses MYSQL_UNIX_PORT or its default
  // socket for "localhost"; an empty name would be taken as a path. An
  // empty password, like an empty host, user or database, leaves it to
  // the option file when there is one.
  if (!setUpConnection(conn, defaultsFile(), error)) return false;
  const char* pass =
      s.pass.empty() && !defaultsFile().empty() ? nullptr : s.pass.c_str();
  if (mysql_real_connect(conn, s.host.c_str(), s.user.c_str(), pass,
                         s.db.c_str(), 0, nullptr, 0) != nullptr) {
    return true;
  }
  error = connectionError(conn);
  return false;
}

// Whether name may be spliced into a statement as a character set name.
bool isCharacterSetName(const std::string& name) {
  if (name.empty()) return false;
  for (char c : name) {
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) {
      return false;
    }
  }
  return true;
}

// Makes the session of an open connection give the run's statements every
// row, and texts in UTF-8, whatever a DBA's global settings or the option
// file's init-command chose: a sql_select_limit silently drops groups, and
// another character_set_results garbles names (a wide one such as utf16
// numbers and column names too). Statements stay in the connection's own
// character set, the option file's default-character-set, in which the
// command line's names are written too.
bool prepareSession(MYSQL* conn, std::string& error) {
  const std::string charset = mysql_character_set_name(conn);
  if (!isCharacterSetName(charset)) {
    error = "unusable client character set \"" + charset + "\"";
    return false;
  }
  const std::string set =
      "SET NAMES " + charset +
      (isUtf8(charset) ? "" : ", character_set_results = utf8mb4") +
      ", sql_select_limit = 18446744073709551615";
  if (mysql_query(conn, set.c_str()) == 0) return true;
  error = mysql_error(conn);
  return false;
}

// The server threads of the statements in flight. Call with the flight's
// lock held.
std::vector<unsigned long> threadsInFlight() {
  std::vector<unsigned long> threads;
  for (const auto& statement : flight().statements) {
    threads.push_back(statement.second);
  }
  return threads;
}

// Sends KILL QUERY for each of threads over a new connection like
// settings; false when the server cannot be reached or refuses.
bool killQueries(const ConnectionSettings& settings,
                 const std::vector<unsigned long>& threads) {
  MYSQL* conn = newConnection();
  if (conn == nullptr) return false;
  std::string error;
  bool killed = connectWith(conn, settings, error);
  for (unsigned long thread : threads) {
    const std::string kill = "KILL QUERY " + std::to_string(thread);
    killed = killed && mysql_query(conn, kill.c_str()) == 0;
  }
  closeLibraryConnection(conn);
  delete conn;
  return killed;
}

// Has KILL QUERY sent for the statements in flight, from a thread of its
// own, so a server that does not answer (the connect timeout is long, a
// statement's reply has none) cannot hold the run past the deadline; it is
// left behind when the process ends. KILL QUERY again now and then: one
// that reaches the server before the statement does is lost. Call with
// the flight's lock held.
void killInFlight(std::chrono::steady_clock::time_point deadline) {
  Flight& f = flight();
  ConnectionSettings settings;
  if (!registeredSettings(f.statements.begin()->first, settings)) return;
  f.killing = true;
  std::thread([settings, deadline] {
    Flight& f = flight();
    std::unique_lock<std::mutex> lock(f.mutex);
    for (;;) {
      const std::vector<unsigned long> threads = threadsInFlight();
      lock.unlock();
      const bool killed = killQueries(settings, threads);
      lock.lock();
      f.killing = false;
      f.changed.notify_all();
      if (!killed ||
          f.changed.wait_for(lock, std::chrono::milliseconds(500),
                             [&f] { return f.statements.empty(); }) ||
          std::chrono::steady_clock::now() >= deadline) {
        return;
      }
      f.killing = true;
    }
  }).detach();
}

}  // namespace

bool isUtf8(const std::string& charset) {
  return charset == "utf8" || charset == "utf8mb3" || charset == "utf8mb4";
}

bool isClosedByServer(unsigned errnum) {
  return errnum == 2006 ||  // CR_SERVER_GONE_ERROR
         errnum == 2013 ||  // CR_SERVER_LOST
         errnum == 2026 ||  // CR_SSL_CONNECTION_ERROR: TLS ended unannounced
         errnum == 4031;    // MySQL 8.0.24+: closed for inactivity
}

std::string& defaultsFile() {
  static auto* path = new std::string;
  return *path;
}

MYSQL* newConnection() {
  MYSQL* conn = new MYSQL;
  if (mysql_init(conn) != nullptr) return conn;
  delete conn;
  return nullptr;
}

bool openConnection(MYSQL* conn, const ConnectionSettings& settings,
                    std::string& error) {
  return connectWith(conn, settings, error) && prepareSession(conn, error);
}

void registerConnection(MYSQL* conn, const ConnectionSettings& settings) {
  std::lock_guard<std::mutex> lock(registry().mutex);
  registry().open[conn] = settings;
}

bool registeredSettings(MYSQL* conn, ConnectionSettings& settings) {
  std::lock_guard<std::mutex> lock(registry().mutex);
  auto found = registry().open.find(conn);
  if (found == registry().open.end()) return false;
  settings = found->second;
  return true;
}

void closeConnection(MYSQL* conn) {
  {
    std::lock_guard<std::mutex> lock(registry().mutex);
    registry().open.erase(conn);
  }
  if (lastUsed == conn) lastUsed = nullptr;
  closeLibraryConnection(conn);
  delete conn;
}

void closeAllConnections() {
  for (;;) {
    MYSQL* conn;
    {
      std::lock_guard<std::mutex> lock(registry().mutex);
      if (registry().open.empty()) return;
      conn = registry().open.begin()->first;
    }
    closeConnection(conn);
  }
}

bool reopenIfClosedWhileIdle(MYSQL* conn, std::string& error) {
  ConnectionSettings settings;
  MYSQL* last = std::exchange(lastUsed, conn);
  if (last == nullptr || last == conn || !registeredSettings(conn, settings)) {
    return true;
  }
  if (mysql_ping(conn) == 0 || !isClosedByServer(mysql_errno(conn))) {
    return true;  // alive, or a failure the statement will report itself
  }
  closeLibraryConnection(conn);
  return mysql_init(conn) != nullptr && openConnection(conn, settings, error);
}

ConnectionsInUse::ConnectionsInUse() {
  Flight& f = flight();
  std::unique_lock<std::mutex> lock(f.mutex);
  f.changed.wait(lock, [&f] { return !f.cancelling; });
  ++f.busy;
}

ConnectionsInUse::~ConnectionsInUse() {
  Flight& f = flight();
  std::unique_lock<std::mutex> lock(f.mutex);
  --f.busy;
  f.changed.notify_all();
  f.changed.wait(lock, [&f] { return !f.cancelling; });
}

StatementInFlight::StatementInFlight(MYSQL* conn) : conn_(conn) {
  Flight& f = flight();
  std::lock_guard<std::mutex> lock(f.mutex);
  f.statements[conn] = mysql_thread_id(conn);
}

StatementInFlight::~StatementInFlight() {
  Flight& f = flight();
  std::lock_guard<std::mutex> lock(f.mutex);
  f.statements.erase(conn_);
  f.changed.notify_all();
}

bool cancelStatementInFlight(std::chrono::milliseconds wait) {
  Flight& f = flight();
  std::unique_lock<std::mutex> lock(f.mutex);
  f.cancelling = true;
  const auto deadline = std::chrono::steady_clock::now() + wait;
  const bool inFlight = !f.statements.empty();
  if (inFlight) killInFlight(deadline);
  // Once the run's threads have left the connections, they wait for good
  // in ConnectionsInUse, and no connection is in use: each can say goodbye,
  // the one that sent KILL QUERY too, which is why the process must not
  // end while that one is open.
  if (f.changed.wait_until(lock, deadline,
                           [&f] { return f.busy == 0 && !f.killing; })) {
    lock.unlock();
    closeAllConnections();
  }
  return inFlight;
}
