#include "connections.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

#include "connection_setup.h"

namespace {

// Every connection opened and not yet closed, with its settings. Main's
// thread opens and closes them; the signal thread reads the settings and
// may close them all once the statement it cancelled has ended.
struct Registry {
  std::mutex mutex;
  std::map<MYSQL*, ConnectionSettings> open;
  MYSQL* lastUsed = nullptr;  // the connection of the last statement
};

// Never destroyed, like the other shared state here: the signal thread may
// still use it while the process exits.
Registry& registry() {
  static auto* instance = new Registry;
  return *instance;
}

// The statement in flight. Taken before the registry's lock where both are.
struct Flight {
  std::mutex mutex;
  std::condition_variable changed;
  MYSQL* conn = nullptr;
  unsigned long thread = 0;  // its server thread, for KILL QUERY
  bool cancelling = false;   // never reset: the process ends
  bool killing = false;      // a connection sending KILL QUERY is open
};

Flight& flight() {
  static auto* instance = new Flight;
  return *instance;
}

// Sends KILL QUERY for thread over a new connection like settings; false
// when the server cannot be reached or refuses.
bool killQuery(const ConnectionSettings& settings, unsigned long thread) {
  MYSQL* conn = newConnection();
  if (conn == nullptr) return false;
  std::string error;
  const std::string kill = "KILL QUERY " + std::to_string(thread);
  bool killed = openConnection(conn, settings, error) &&
                mysql_query(conn, kill.c_str()) == 0;
  closeLibraryConnection(conn);
  delete conn;
  return killed;
}

}  // namespace

bool isClosedByServer(unsigned errnum) {
  return errnum == 2006 ||  // CR_SERVER_GONE_ERROR
         errnum == 2013 ||  // CR_SERVER_LOST
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

bool openConnection(MYSQL* conn, const ConnectionSettings& s,
                    std::string& error) {
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

void registerConnection(MYSQL* conn, const ConnectionSettings& settings) {
  std::lock_guard<std::mutex> lock(registry().mutex);
  registry().open[conn] = settings;
}

void closeConnection(MYSQL* conn) {
  {
    std::lock_guard<std::mutex> lock(registry().mutex);
    registry().open.erase(conn);
    if (registry().lastUsed == conn) registry().lastUsed = nullptr;
  }
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
  {
    std::lock_guard<std::mutex> lock(registry().mutex);
    MYSQL* last = std::exchange(registry().lastUsed, conn);
    auto found = registry().open.find(conn);
    if (last == nullptr || last == conn || found == registry().open.end()) {
      return true;
    }
    settings = found->second;
  }
  if (mysql_ping(conn) == 0 || !isClosedByServer(mysql_errno(conn))) {
    return true;  // alive, or a failure the statement will report itself
  }
  closeLibraryConnection(conn);
  return mysql_init(conn) != nullptr && openConnection(conn, settings, error);
}

StatementInFlight::StatementInFlight(MYSQL* conn) {
  Flight& f = flight();
  std::unique_lock<std::mutex> lock(f.mutex);
  f.changed.wait(lock, [&f] { return !f.cancelling; });
  f.conn = conn;
  f.thread = mysql_thread_id(conn);
}

StatementInFlight::~StatementInFlight() {
  Flight& f = flight();
  std::unique_lock<std::mutex> lock(f.mutex);
  f.conn = nullptr;
  f.changed.notify_all();
  f.changed.wait(lock, [&f] { return !f.cancelling; });
}

bool cancelStatementInFlight(std::chrono::milliseconds wait) {
  Flight& f = flight();
  std::unique_lock<std::mutex> lock(f.mutex);
  if (f.conn == nullptr) return false;
  f.cancelling = true;
  ConnectionSettings settings;
  {
    std::lock_guard<std::mutex> registered(registry().mutex);
    auto found = registry().open.find(f.conn);
    if (found == registry().open.end()) return true;
    settings = found->second;
  }
  const unsigned long thread = f.thread;
  const auto deadline = std::chrono::steady_clock::now() + wait;
  // Its own thread, so a server that does not answer (the connect timeout
  // is long, a statement's reply has none) cannot hold the run past the
  // deadline; it is left behind when the process ends. KILL QUERY again
  // now and then: one that reaches the server before the statement does
  // is lost.
  f.killing = true;
  std::thread([settings, thread, deadline] {
    Flight& f = flight();
    for (;;) {
      const bool killed = killQuery(settings, thread);
      std::unique_lock<std::mutex> lock(f.mutex);
      f.killing = false;
      f.changed.notify_all();
      if (!killed ||
          f.changed.wait_for(lock, std::chrono::milliseconds(500),
                             [&f] { return f.conn == nullptr; }) ||
          std::chrono::steady_clock::now() >= deadline) {
        return;
      }
      f.killing = true;
    }
  }).detach();
  // Once the statement has ended, its thread waits above and no connection
  // is in use: each can say goodbye, the one that sent KILL QUERY too,
  // which is why the process must not end while it is open.
  if (f.changed.wait_until(lock, deadline,
                           [&f] { return f.conn == nullptr && !f.killing; })) {
    lock.unlock();
    closeAllConnections();
  }
  return true;
}
