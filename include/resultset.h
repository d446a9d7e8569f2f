// The query-access layer: field values, a stored-result cursor over one
// MySQL connection, and connection opening. Every database failure is
// reported here with a fixed diagnostic and ends the process with status 1,
// so callers carry no error handling for database work.
#ifndef TALLYPLOT_INCLUDE_RESULTSET_H_
#define TALLYPLOT_INCLUDE_RESULTSET_H_

#include <mysql.h>

#include <chrono>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

typedef unsigned char byte;

// One field value: its own copy of the text, or absent for SQL NULL.
class Variant {
 public:
  Variant();
  Variant(const char* datap);  // NOLINT: implicit by design, like the rows.
  // The first size bytes of datap, zero bytes included.
  Variant(const char* datap, size_t size);
  Variant(const Variant& other);
  ~Variant();
  Variant operator=(const Variant& other);

  // Absent converts to the empty text.
  operator std::string() const;
  // Converts as atof does; absent converts to 0.0.
  operator double() const;

 private:
  char* data;     // followed by a zero byte
  size_t length;  // of the text, which may hold zero bytes itself
};

// Writes the text conversion of v.
std::ostream& operator<<(std::ostream& stream, Variant v);

// The layer's own free functions. In a namespace because the standard
// library already puts abs overloads into the global namespace.
namespace resultset {

// Magnitude of d, used by the label placement.
double abs(double d);

// text as a hexadecimal string literal, X'...', which a statement can hold
// whatever bytes text holds, with no quoting.
std::string hexLiteral(const std::string& text);

}  // namespace resultset

// Closes a connection opened by ResultSet::makeConn.
struct ConnectionCloser {
  void operator()(MYSQL* conn) const;
};

// An open connection; closed (with a proper goodbye to the server) when the
// handle goes. The MYSQL object never moves after mysql_init.
typedef std::unique_ptr<MYSQL, ConnectionCloser> Connection;

// Marks a thread of the run's own that uses connections for its lifetime,
// as the client library asks of every thread but the first.
class ClientLibraryThread {
 public:
  ClientLibraryThread() { mysql_thread_init(); }
  ~ClientLibraryThread() { mysql_thread_end(); }
  ClientLibraryThread(const ClientLibraryThread&) = delete;
  ClientLibraryThread& operator=(const ClientLibraryThread&) = delete;
};

// One stored result, shared by every ResultSet copy that walks it.
class StoredResult;

// A query text builder, the stored result of the last query and a row
// cursor over one caller-owned connection.
class ResultSet {
 public:
  ResultSet();
  explicit ResultSet(MYSQL* conn_p);
  ResultSet(std::string q, MYSQL* conn_p);
  ResultSet(const ResultSet& other);
  ResultSet operator=(const ResultSet& other);
  ~ResultSet();

  // Opens a connection or ends the process with the connection diagnostic.
  // It uses TLS whenever the server offers it, waits a bounded time, and
  // never sends the password in clear text over an unencrypted TCP link.
  static Connection makeConn(std::string host, std::string user,
                             std::string pass, std::string db);
  // Opens one more connection with the settings conn was opened with; a
  // null handle, with the reason in error, when the server refuses it (too
  // many connections, say) or cannot be reached. Never ends the process.
  static Connection tryOpenLike(MYSQL* conn, std::string& error);
  // From another thread (the one that handles termination signals): stops
  // the statement in flight, if any, on the server with KILL QUERY, sent
  // over a new connection with the same settings, waits up to wait for the
  // connections to fall idle, and closes every one with a goodbye. The
  // thread that uses them never returns to its caller, so the caller must
  // end the process. False when no statement was in flight.
  static bool cancelStatementInFlight(std::chrono::milliseconds wait);
  // Sends KILL QUERY for the server thread thread on conn, an idle
  // connection of the run, from a thread of the run's own while others
  // use their connections; false when the server refuses or conn is gone.
  // Never opens conn again or ends the process.
  static bool killQuery(MYSQL* conn, unsigned long thread);
  // text, which arrived over conn in UTF-8 like every text, as the server
  // reads it in a statement on conn, for splicing into one: itself, unless
  // it goes beyond ASCII and conn's statements are in another character set
  // (the option file's default-character-set), in which case the server
  // converts it, with a statement that reads no table.
  static std::string inStatementCharacterSet(MYSQL* conn,
                                             const std::string& text);
  // Makes every later connection read the client settings of this option
  // file (host, user, password and database still come from makeConn's
  // arguments unless those are empty); empty: none is read. The file, and
  // the files it includes, are read here, once, so that every connection
  // gets the same settings. Returns the empty text, or why the file cannot
  // be read.
  static std::string useDefaultsFile(std::string path);
  // The value the last line setting key gives in the [tallyplot] group of
  // that option file; empty when none does, or no file is read.
  static std::string programOption(std::string key);

  void setConn(MYSQL* newconn);
  MYSQL* getConn() const;

  // Runs the builder's text and empties the builder.
  void store();
  // Runs q and stores its result; the builder is left alone.
  void storeQuery(std::string q);
  // Runs q and stores its result like storeQuery, but returns false instead
  // of ending the process when the statement fails; there is then no result,
  // and failure() and refusedAsWritten() describe the failure.
  bool tryStoreQuery(std::string q);
  // The query-failure diagnostic of the last statement that failed.
  std::string failure() const;
  // Whether the server refused that statement as written (an unknown table
  // or column, a syntax error, a missing privilege), before reading a row,
  // rather than stopping it while it ran.
  bool refusedAsWritten() const;
  // Whether it was refused from the estimate of the rows it would read
  // (more than max_join_size), which a statement with limit 0 never makes.
  bool refusedByEstimate() const;
  // Runs the builder's text and leaves it in the builder.
  void storeNoRes();
  // Empties the builder.
  void clear();
  // The builder's current text.
  std::string print() const;

  bool next();
  bool prev();
  bool seek(int idx);
  void rewind();
  int tell() const;
  int size() const;

  Variant get(int idx) const;
  Variant get(std::string name) const;
  Variant operator[](int idx) const;
  Variant operator[](std::string name) const;
  int fieldNumber(std::string name) const;
  // Whether the last query has a column called name (case matters).
  bool hasField(const std::string& name) const;
  // The number of columns of the last query's result.
  int columnCount() const;
  // The server's description of column idx of the last query's result (its
  // name, type, length and flags), valid while that result is stored.
  const MYSQL_FIELD& columnInfo(int idx) const;

  // The diagnostics next() and get(name) end the process with, for callers
  // that find the same conditions by other means.
  static std::string noRowsText(const std::string& q);
  static std::string missingFieldText(const std::string& name,
                                      const std::string& q);

  // The query text builder: callers write SQL text into it.
  std::ostringstream query;

 protected:
  // Makes row idx current by fetching it from the shared result.
  void fetchRow(int idx);
  // Runs q and stores its result; on failure sets the error and returns
  // false.
  bool runAndStore(const std::string& q);
  // Copies everything but the builder from other.
  void copyFrom(const ResultSet& other);

  int numrows;
  int currentrow;
  MYSQL* conn;
  std::shared_ptr<StoredResult> result;
  // Where the row after the current one starts in the shared result, so
  // next() repositions in constant time whatever the other copies did.
  MYSQL_ROW_OFFSET nextoffset;
  MYSQL_ROW row;
  // The byte counts of row's fields: a field may hold zero bytes.
  std::vector<unsigned long> lengths;
  std::vector<std::string> names;
  std::vector<byte*> fields;
  std::string thisquery;
  // The client library's error number and text for the last failure.
  unsigned errornumber;
  std::string errortext;
};

#endif  // TALLYPLOT_INCLUDE_RESULTSET_H_
