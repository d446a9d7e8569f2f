// The query layer's open connections, what they were opened with, and the
// statement in flight, shared with the thread that handles termination
// signals.
#ifndef TALLYPLOT_RESULTSET_CONNECTIONS_H_
#define TALLYPLOT_RESULTSET_CONNECTIONS_H_

#include <mysql.h>

#include <chrono>
#include <string>

// What a connection was opened with, to open it again or another like it.
struct ConnectionSettings {
  std::string host;
  std::string user;
  std::string pass;
  std::string db;
};

// The option file every connection reads; empty: none.
std::string& defaultsFile();

// A fresh, initialised connection object that stays at its address, or
// null when there is no memory for one.
MYSQL* newConnection();

// Opens the initialised conn with settings, with a session that gives the
// run's statements every row, in the character set the connection decodes;
// false, with the reason in error, when it cannot be opened.
bool openConnection(MYSQL* conn, const ConnectionSettings& settings,
                    std::string& error);

// Records an open connection, so that it can be opened again, imitated, and
// closed with a goodbye to the server however the process ends.
void registerConnection(MYSQL* conn, const ConnectionSettings& settings);

// The settings conn was registered with; false when it is not open.
bool registeredSettings(MYSQL* conn, ConnectionSettings& settings);

// Forgets, closes and frees a connection from newConnection.
void closeConnection(MYSQL* conn);

// Closes every recorded connection.
void closeAllConnections();

// Whether a connection character set is one of UTF-8's names, in which
// texts need no conversion.
bool isUtf8(const std::string& charset);

// Whether a statement or ping that failed with this error found its
// connection closed by the server, so that opening it again may help.
bool isClosedByServer(unsigned errnum);

// To call before each statement on conn. When conn sat idle while this
// thread worked on another connection and the server closed it meanwhile
// (its wait_timeout), opens it again in place, once, with the same
// settings. False, with the reason in error, when that fails.
bool reopenIfClosedWhileIdle(MYSQL* conn, std::string& error);

// Marks a use of the connections by one of the run's own threads (opening
// one, checking it, closing it, a statement) for its lifetime. Once a
// termination signal has begun to close them, the thread stops here for
// good, at the use's end or the next one's start, so nothing is reported
// or sent after it: the signal ends the process.
class ConnectionsInUse {
 public:
  ConnectionsInUse();
  ~ConnectionsInUse();
  ConnectionsInUse(const ConnectionsInUse&) = delete;
  ConnectionsInUse& operator=(const ConnectionsInUse&) = delete;
};

// Marks a statement on conn as in flight for its lifetime, a use of the
// connections that KILL QUERY can end. Several threads may each have one
// in flight, on connections of their own.
class StatementInFlight {
 public:
  explicit StatementInFlight(MYSQL* conn);
  ~StatementInFlight();
  StatementInFlight(const StatementInFlight&) = delete;
  StatementInFlight& operator=(const StatementInFlight&) = delete;

 private:
  ConnectionsInUse use_;
  MYSQL* conn_;
};

// From another thread: stops the statements in flight, if any, with KILL
// QUERY sent over a new connection like theirs, waits up to wait for the
// run's threads to leave the connections, and then closes every one with a
// goodbye. False when no statement was in flight.
bool cancelStatementInFlight(std::chrono::milliseconds wait);

#endif  // TALLYPLOT_RESULTSET_CONNECTIONS_H_
