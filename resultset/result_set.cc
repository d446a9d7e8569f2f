#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "resultset.h"

// A stored result; released when the last ResultSet walking it goes.
class StoredResult {
 public:
  explicit StoredResult(MYSQL_RES* res) : res_(res) {}
  ~StoredResult() { mysql_free_result(res_); }
  StoredResult(const StoredResult&) = delete;
  StoredResult& operator=(const StoredResult&) = delete;
  MYSQL_RES* get() const { return res_; }

 private:
  MYSQL_RES* res_;
};

namespace {

// Every connection makeConn opened and not yet closed, so a failure that
// ends the process still says goodbye to the server: otherwise the server
// counts an aborted connection and logs a warning for every failed run.
std::vector<MYSQL*>& openConnections() {
  static std::vector<MYSQL*> connections;
  return connections;
}

void closeConnection(MYSQL* conn) {
  std::vector<MYSQL*>& open = openConnections();
  for (size_t i = 0; i < open.size(); ++i) {
    if (open[i] == conn) {
      open.erase(open.begin() + i);
      break;
    }
  }
  mysql_close(conn);
}

// Writes a diagnostic to standard output and ends the process.
[[noreturn]] void fail(const std::string& message) {
  std::cout << message << std::flush;
  while (!openConnections().empty()) closeConnection(openConnections().back());
  std::exit(1);
}

// The query-failure diagnostic: the library's error text and the query.
[[noreturn]] void failQuery(const std::string& error, const std::string& q) {
  fail("Failure to execute: \n\t" + error + "\n\n\tOn query: \"" + q + "\"\n");
}

}  // namespace

void ConnectionCloser::operator()(MYSQL* conn) const { closeConnection(conn); }

ResultSet::ResultSet() : ResultSet(static_cast<MYSQL*>(nullptr)) {}

ResultSet::ResultSet(MYSQL* conn_p)
    : numrows(0),
      currentrow(-1),
      conn(conn_p),
      nextoffset(nullptr),
      row(nullptr) {}

ResultSet::ResultSet(std::string q, MYSQL* conn_p) : ResultSet(conn_p) {
  query << q;
  store();
}

ResultSet::ResultSet(const ResultSet& other) : ResultSet(other.conn) {
  copyFrom(other);
}

ResultSet ResultSet::operator=(const ResultSet& other) {
  if (this != &other) copyFrom(other);
  return *this;
}

ResultSet::~ResultSet() {}

void ResultSet::copyFrom(const ResultSet& other) {
  conn = other.conn;
  numrows = other.numrows;
  currentrow = other.currentrow;
  result = other.result;
  nextoffset = other.nextoffset;
  row = other.row;
  names = other.names;
  fields = other.fields;
  thisquery = other.thisquery;
}

Connection ResultSet::makeConn(std::string host, std::string user,
                               std::string pass, std::string db) {
  MYSQL* conn = mysql_init(nullptr);
  if (conn == nullptr) {
    std::fprintf(stderr, "Failed to connect to database: Error: %s\n",
                 "out of memory");
    fail("");
  }
  openConnections().push_back(conn);
  Connection handle(conn);
  // No socket name: the library then uses MYSQL_UNIX_PORT or its default
  // socket for "localhost"; an empty name would be taken as a path.
  if (mysql_real_connect(conn, host.c_str(), user.c_str(), pass.c_str(),
                         db.c_str(), 0, nullptr, 0) == nullptr) {
    std::fprintf(stderr, "Failed to connect to database: Error: %s\n",
                 mysql_error(conn));
    handle.release();
    fail("");
  }
  return handle;
}

void ResultSet::setConn(MYSQL* newconn) { conn = newconn; }

MYSQL* ResultSet::getConn() const { return conn; }

void ResultSet::store() {
  storeQuery(query.str());
  clear();
}

void ResultSet::storeQuery(std::string q) {
  std::string error;
  if (!runAndStore(q, error)) failQuery(error, q);
}

bool ResultSet::tryStoreQuery(std::string q) {
  std::string error;
  if (runAndStore(q, error)) return true;
  // Nothing of an earlier result may be read as if it were this one's.
  numrows = 0;
  result.reset();
  row = nullptr;
  return false;
}

bool ResultSet::runAndStore(const std::string& q, std::string& error) {
  thisquery = q;
  names.clear();
  fields.clear();
  currentrow = -1;
  if (conn == nullptr) {
    // A ResultSet built without a connection has nowhere to send q.
    error = "no connection";
    return false;
  }
  int status = mysql_query(conn, q.c_str());
  error = mysql_error(conn);
  if (status != 0 || !error.empty()) return false;
  unsigned int columns = mysql_field_count(conn);
  if (columns == 0) return true;
  MYSQL_RES* stored = mysql_store_result(conn);
  if (stored == nullptr) {
    error = mysql_error(conn);
    return false;
  }
  result = std::make_shared<StoredResult>(stored);
  numrows = static_cast<int>(static_cast<uint32_t>(mysql_num_rows(stored)));
  nextoffset = nullptr;
  row = nullptr;
  for (unsigned int i = 0; i < columns; ++i) {
    names.push_back(mysql_fetch_field(stored)->name);
  }
  return true;
}

void ResultSet::storeNoRes() { storeQuery(query.str()); }

void ResultSet::clear() {
  query.str("");
  query.clear();
}

std::string ResultSet::print() const { return query.str(); }

void ResultSet::fetchRow(int idx) {
  MYSQL_RES* res = result->get();
  if (idx > 0 && idx == currentrow + 1) {
    // Constant time: the shared result's cursor may have been moved by
    // another copy, so start from where this object left off.
    mysql_row_seek(res, nextoffset);
  } else {
    mysql_data_seek(res, static_cast<uint64_t>(idx));
  }
  row = mysql_fetch_row(res);
  nextoffset = mysql_row_tell(res);
  currentrow = idx;
}

bool ResultSet::next() {
  if (numrows == 0) fail("No rows in query \"" + thisquery + "\n");
  if (currentrow >= numrows - 1) return false;
  fetchRow(currentrow + 1);
  return true;
}

bool ResultSet::prev() {
  if (currentrow <= 0) return false;
  fetchRow(currentrow - 1);
  return true;
}

bool ResultSet::seek(int idx) {
  if (idx < 0 || idx >= numrows) {
    fail("Seek to row " + std::to_string(idx) + " failed in query \"" +
         thisquery + "\"\n");
  }
  fetchRow(idx);
  return true;
}

void ResultSet::rewind() { seek(0); }

int ResultSet::tell() const { return currentrow; }

int ResultSet::size() const { return numrows; }

Variant ResultSet::get(int idx) const {
  if (tell() < 0 || tell() >= numrows) {
    fail("Row " + std::to_string(currentrow) + " out of bounds in query \"" +
         thisquery + "\"\n");
  }
  if (idx < 0 || idx >= static_cast<int>(names.size())) {
    fail("Field " + std::to_string(idx) + " out of bounds in query \"" +
         thisquery + "\"\n");
  }
  return Variant(row[idx]);
}

Variant ResultSet::get(std::string name) const {
  return get(fieldNumber(name));
}

Variant ResultSet::operator[](int idx) const { return get(idx); }

Variant ResultSet::operator[](std::string name) const { return get(name); }

bool ResultSet::hasField(const std::string& name) const {
  return std::find(names.begin(), names.end(), name) != names.end();
}

int ResultSet::columnCount() const { return static_cast<int>(names.size()); }

const MYSQL_FIELD& ResultSet::columnInfo(int idx) const {
  if (idx < 0 || idx >= columnCount()) {
    fail("Field " + std::to_string(idx) + " out of bounds in query \"" +
         thisquery + "\"\n");
  }
  return *mysql_fetch_field_direct(result->get(), static_cast<unsigned>(idx));
}

int ResultSet::fieldNumber(std::string name) const {
  for (size_t i = 0; i < names.size(); ++i) {
    if (names[i] == name) return static_cast<int>(i);
  }
  fail("No field \"" + name + "\" in \"" + thisquery + "\"\n");
}
