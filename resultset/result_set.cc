#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <utility>

#include "connections.h"
#include "defaults_file.h"
#include "option_file.h"
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

// Writes a diagnostic to standard output and ends the process.
[[noreturn]] void fail(const std::string& message) {
  std::cout << message << std::flush;
  // A goodbye to the server: otherwise it counts an aborted connection and
  // logs a warning for every failed run.
  closeAllConnections();
  std::exit(1);
}

// The query-failure diagnostic: the library's error text and the query.
std::string queryFailureText(const std::string& error, const std::string& q) {
  return "Failure to execute: \n\t" + error + "\n\n\tOn query: \"" + q + "\"\n";
}

// Whether a statement that failed with this error was refused as written:
// the server resolves names, syntax and privileges before it reads a row,
// so the same text fails the same way again, and a twin of it with LIMIT 0
// fails with it. Every other error (interrupted, over max_statement_time,
// connection lost, out of resources, a remote server of a cluster down)
// stopped a statement that was accepted. The numbers were checked against
// MariaDB 10.11, each by a statement that fails with it.
bool isRefusedAsWritten(unsigned errnum) {
  switch (errnum) {
    case 1046:  // ER_NO_DB_ERROR: no database selected
    case 1052:  // ER_NON_UNIQ_ERROR: an ambiguous column
    case 1054:  // ER_BAD_FIELD_ERROR: an unknown column
    case 1055:  // ER_WRONG_FIELD_WITH_GROUP: ONLY_FULL_GROUP_BY
    case 1064:  // ER_PARSE_ERROR
    case 1066:  // ER_NONUNIQ_TABLE: a table alias used twice
    case 1103:  // ER_WRONG_TABLE_NAME
    case 1104:  // ER_TOO_BIG_SELECT: over max_join_size, from the estimate
    case 1111:  // ER_INVALID_GROUP_FUNC_USE
    case 1140:  // ER_MIX_OF_GROUP_FUNC_AND_FIELDS
    case 1142:  // ER_TABLEACCESS_DENIED_ERROR
    case 1143:  // ER_COLUMNACCESS_DENIED_ERROR
    case 1146:  // ER_NO_SUCH_TABLE
    case 1235:  // ER_NOT_SUPPORTED_YET
    case 1305:  // ER_SP_DOES_NOT_EXIST: an unknown function
    case 1356:  // ER_VIEW_INVALID
    case 1370:  // ER_PROCACCESS_DENIED_ERROR: a function not granted
    case 1449:  // ER_NO_SUCH_USER: a view's definer is gone
    case 1582:  // ER_WRONG_PARAMCOUNT_TO_NATIVE_FCT
    case 4078:  // ER_ILLEGAL_PARAMETER_DATA_TYPES2_FOR_OPERATION
      return true;
    default:
      return false;
  }
}

}  // namespace

namespace resultset {

std::string hexLiteral(const std::string& text) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string hex = "X'";
  for (unsigned char c : text) {
    hex += kDigits[c >> 4];
    hex += kDigits[c & 0x0F];
  }
  return hex + "'";
}

}  // namespace resultset

void ConnectionCloser::operator()(MYSQL* conn) const {
  ConnectionsInUse use;
  closeConnection(conn);
}

std::string ResultSet::inStatementCharacterSet(MYSQL* conn,
                                               const std::string& text) {
  std::string charset;
  {
    ConnectionsInUse use;
    charset = mysql_character_set_name(conn);
  }
  const bool ascii = std::all_of(text.begin(), text.end(), [](char c) {
    return static_cast<unsigned char>(c) < 0x80;
  });
  if (ascii || isUtf8(charset)) return text;
  // A binary result, which the server sends as it is, whatever the
  // session's character_set_results.
  ResultSet converted(conn);
  converted.storeQuery("select cast(convert(_utf8mb4 " +
                       resultset::hexLiteral(text) + " using " + charset +
                       ") as binary)");
  converted.next();
  return converted.get(0);
}

std::string ResultSet::useDefaultsFile(std::string path) {
  std::string error;
  defaultsFile() = path.empty() ? "" : copyDefaultsFile(path, error);
  return error;
}

std::string ResultSet::programOption(std::string key) {
  if (defaultsFile().empty()) return "";
  return optionFileValue(defaultsFile(), {kProgramGroup}, key);
}

ResultSet::ResultSet() : ResultSet(static_cast<MYSQL*>(nullptr)) {}

ResultSet::ResultSet(MYSQL* conn_p)
    : numrows(0),
      currentrow(-1),
      conn(conn_p),
      nextoffset(nullptr),
      row(nullptr),
      errornumber(0) {}

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
  lengths = other.lengths;
  names = other.names;
  fields = other.fields;
  thisquery = other.thisquery;
  errornumber = other.errornumber;
  errortext = other.errortext;
}

namespace {

// A connection opened with settings, or a null handle with the reason in
// error.
Connection openWith(const ConnectionSettings& settings, std::string& error) {
  MYSQL* conn = newConnection();
  if (conn == nullptr) {
    error = "out of memory";
    return nullptr;
  }
  registerConnection(conn, settings);
  Connection handle(conn);
  bool opened;
  {
    ConnectionsInUse use;
    opened = openConnection(conn, settings, error);
  }
  if (!opened) {
    // Never connected: nothing to say goodbye to.
    handle.release();
    closeConnection(conn);
  }
  return opened ? std::move(handle) : nullptr;
}

}  // namespace

Connection ResultSet::makeConn(std::string host, std::string user,
                               std::string pass, std::string db) {
  std::string error;
  Connection handle = openWith({host, user, pass, db}, error);
  if (!handle) {
    std::fprintf(stderr, "Failed to connect to database: Error: %s\n",
                 error.c_str());
    fail("");
  }
  return handle;
}

Connection ResultSet::tryOpenLike(MYSQL* conn, std::string& error) {
  ConnectionSettings settings;
  if (!registeredSettings(conn, settings)) {
    error = "no connection to imitate";
    return nullptr;
  }
  return openWith(settings, error);
}

bool ResultSet::cancelStatementInFlight(std::chrono::milliseconds wait) {
  return ::cancelStatementInFlight(wait);
}

bool ResultSet::killQuery(MYSQL* conn, unsigned long thread) {
  StatementInFlight inFlight(conn);
  const std::string kill = "KILL QUERY " + std::to_string(thread);
  return mysql_query(conn, kill.c_str()) == 0;
}

void ResultSet::setConn(MYSQL* newconn) { conn = newconn; }

MYSQL* ResultSet::getConn() const { return conn; }

void ResultSet::store() {
  storeQuery(query.str());
  clear();
}

void ResultSet::storeQuery(std::string q) {
  if (!runAndStore(q)) fail(failure());
}

bool ResultSet::tryStoreQuery(std::string q) {
  if (runAndStore(q)) return true;
  // Nothing of an earlier result may be read as if it were this one's.
  numrows = 0;
  result.reset();
  row = nullptr;
  return false;
}

std::string ResultSet::failure() const {
  return queryFailureText(errortext, thisquery);
}

bool ResultSet::refusedAsWritten() const {
  return isRefusedAsWritten(errornumber);
}

bool ResultSet::refusedByEstimate() const {
  return errornumber == 1104;  // ER_TOO_BIG_SELECT
}

bool ResultSet::runAndStore(const std::string& q) {
  thisquery = q;
  names.clear();
  fields.clear();
  currentrow = -1;
  if (conn == nullptr) {
    // A ResultSet built without a connection has nowhere to send q.
    errornumber = 0;
    errortext = "no connection";
    return false;
  }
  std::string reopenError;
  bool open;
  {
    ConnectionsInUse use;
    open = reopenIfClosedWhileIdle(conn, reopenError);
  }
  if (!open) {
    std::fprintf(stderr, "Failed to connect to database: Error: %s\n",
                 reopenError.c_str());
    fail("");
  }
  StatementInFlight inFlight(conn);
  int status = mysql_query(conn, q.c_str());
  errornumber = mysql_errno(conn);
  errortext = mysql_error(conn);
  if (status != 0 || !errortext.empty()) return false;
  unsigned int columns = mysql_field_count(conn);
  if (columns == 0) return true;
  MYSQL_RES* stored = mysql_store_result(conn);
  if (stored == nullptr) {
    errornumber = mysql_errno(conn);
    errortext = mysql_error(conn);
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
  const unsigned long* counts = mysql_fetch_lengths(res);
  if (counts != nullptr) lengths.assign(counts, counts + names.size());
  nextoffset = mysql_row_tell(res);
  currentrow = idx;
}

std::string ResultSet::noRowsText(const std::string& q) {
  return "No rows in query \"" + q + "\n";
}

std::string ResultSet::missingFieldText(const std::string& name,
                                        const std::string& q) {
  return "No field \"" + name + "\" in \"" + q + "\"\n";
}

bool ResultSet::next() {
  if (numrows == 0) fail(noRowsText(thisquery));
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
  if (row[idx] == nullptr) return Variant();
  return Variant(row[idx], static_cast<size_t>(idx) < lengths.size()
                               ? lengths[idx]
                               : std::strlen(row[idx]));
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
  fail(missingFieldText(name, thisquery));
}
