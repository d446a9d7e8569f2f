#include "split_scan.h"

#include <cctype>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

namespace {

// More ranges than connections, so that a connection whose ranges hold
// few rows (idx values that bunch up elsewhere) takes more of them.
constexpr int kRangesPerConnection = 4;

// How often the statements still running are stopped again once one
// failed: a KILL QUERY that reaches the server before its statement does
// is lost.
constexpr std::chrono::milliseconds kStopAgainAfter{100};

// Wide enough for every value of any integer column, signed or unsigned,
// and for the arithmetic of a range over all of them.
typedef __int128 Wide;

bool parseWide(const std::string& text, Wide& value) {
  if (text.empty()) return false;
  size_t at = text[0] == '-' ? 1 : 0;
  if (at == text.size()) return false;
  Wide magnitude = 0;
  for (; at < text.size(); ++at) {
    if (text[at] < '0' || text[at] > '9') return false;
    magnitude = magnitude * 10 + (text[at] - '0');
  }
  value = text[0] == '-' ? -magnitude : magnitude;
  return true;
}

std::string formatWide(Wide value) {
  if (value == 0) return "0";
  const bool negative = value < 0;
  std::string digits;
  for (; value != 0; value /= 10) {
    const int digit = static_cast<int>(value % 10);
    digits.insert(digits.begin(),
                  static_cast<char>('0' + (negative ? -digit : digit)));
  }
  return negative ? "-" + digits : digits;
}

bool isIntegerType(enum_field_types type) {
  return type == MYSQL_TYPE_TINY || type == MYSQL_TYPE_SHORT ||
         type == MYSQL_TYPE_INT24 || type == MYSQL_TYPE_LONG ||
         type == MYSQL_TYPE_LONGLONG;
}

// Reads the identifier at from, in backquotes or not, into part, and
// moves from past it; false when none stands there.
bool readNamePart(const std::string& text, size_t& from, std::string& part) {
  part.clear();
  if (from < text.size() && text[from] == '`') {
    for (size_t at = from + 1; at < text.size(); ++at) {
      if (text[at] != '`') {
        part += text[at];
      } else if (at + 1 < text.size() && text[at + 1] == '`') {
        part += text[++at];  // a doubled backquote stands for one
      } else {
        from = at + 1;
        return !part.empty();
      }
    }
    return false;
  }
  for (; from < text.size(); ++from) {
    const auto c = static_cast<unsigned char>(text[from]);
    if (!(std::isalnum(c) || c == '_' || c == '$' || c >= 0x80)) break;
    part += text[from];
  }
  return !part.empty();
}

// The database (empty: the connection's) and the name of the table that
// table names; false when it names none, being a table expression.
bool parseTableName(const std::string& table, std::string& database,
                    std::string& name) {
  size_t at = 0;
  if (!readNamePart(table, at, name)) return false;
  database.clear();
  if (at < table.size() && table[at] == '.') {
    ++at;
    database = name;
    if (!readNamePart(table, at, name)) return false;
  }
  return at == table.size();
}

// Whether idx leads the primary key of table and the table keeps its rows
// itself, asked of the server's own description, which reads no row. A
// view has no key of its own; a Spider table already has its backends scan
// at once, and ranges through it only add statements for every backend
// (measured: 1.4 times as long on two backends).
bool splitsWell(MYSQL* conn, const std::string& table) {
  std::string database, name;
  if (!parseTableName(table, database, name)) return false;
  // Each subquery names its table by constants, so that the server opens
  // that table's description only, not every table's.
  const std::string which =
      " where table_schema = " +
      (database.empty() ? "database()" : resultset::hexLiteral(database)) +
      " and table_name = " + resultset::hexLiteral(name);
  ResultSet described(conn);
  if (!described.tryStoreQuery(
          "select (select engine from information_schema.tables" + which +
          "), (select count(*) from information_schema.statistics" + which +
          " and index_name = 'PRIMARY' and seq_in_index = 1 and column_name "
          "= 'idx')") ||
      described.size() != 1) {
    return false;
  }
  described.next();
  const std::string engine = described.get(0);
  return engine != "SPIDER" && static_cast<double>(described.get(1)) > 0;
}

// The statements that cover [low, high] with count ranges of idx, no gap
// and no overlap, both bounds of each written out as numbers.
std::vector<std::string> rangeStatements(const std::string& select, Wide low,
                                         Wide high, Wide count) {
  const Wide span = high - low + 1;
  if (count > span) count = span;
  std::vector<std::string> statements;
  for (Wide k = 0; k < count; ++k) {
    const Wide from = low + span * k / count;
    const std::string upper =
        k + 1 == count ? "idx <= " + formatWide(high)
                       : "idx < " + formatWide(low + span * (k + 1) / count);
    statements.push_back(select + " where idx >= " + formatWide(from) +
                         " and " + upper + " group by selectednum");
  }
  return statements;
}

// The key of a selectednum group, ordered as the server orders them:
// NULL first, then ascending.
typedef std::pair<bool, Wide> GroupKey;  // (not NULL, value)

// The range statements of one split scan, taken in turn by one thread per
// connection, and the groups they add up to.
class RangeScan {
 public:
  RangeScan(std::vector<std::string> statements, size_t summands)
      : statements_(std::move(statements)), summands_(summands) {}

  // Runs every statement on conns, one thread each. After a failure,
  // stops the statements still running with KILL QUERY sent on idle, and
  // returns false.
  bool run(const std::vector<MYSQL*>& conns, MYSQL* idle) {
    running_.assign(conns.size(), false);
    working_ = conns.size();
    std::vector<std::thread> threads;
    for (size_t w = 0; w < conns.size(); ++w) {
      threads.emplace_back(&RangeScan::work, this, conns[w], w);
    }
    std::unique_lock<std::mutex> lock(mutex_);
    while (working_ > 0) {
      changed_.wait(lock, [this] { return working_ == 0 || failed_; });
      if (working_ == 0) break;
      std::vector<unsigned long> running;
      for (size_t w = 0; w < conns.size(); ++w) {
        if (running_[w]) running.push_back(mysql_thread_id(conns[w]));
      }
      lock.unlock();
      for (unsigned long thread : running) ResultSet::killQuery(idle, thread);
      lock.lock();
      changed_.wait_for(lock, kStopAgainAfter,
                        [this] { return working_ == 0; });
    }
    lock.unlock();
    for (std::thread& thread : threads) thread.join();
    return !failed_;
  }

  const ResultSet& failure() const { return failure_; }

  std::vector<GroupSums> groups() const {
    std::vector<GroupSums> groups;
    for (const auto& group : groups_) groups.push_back(group.second);
    return groups;
  }

 private:
  // One connection's thread: takes the next statement until none is left
  // or one has failed.
  void work(MYSQL* conn, size_t worker) {
    ClientLibraryThread thread;
    for (;;) {
      std::string statement;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (failed_ || next_ == statements_.size()) break;
        statement = statements_[next_++];
        running_[worker] = true;
      }
      ResultSet range(conn);
      const bool read = range.tryStoreQuery(statement);
      std::lock_guard<std::mutex> lock(mutex_);
      running_[worker] = false;
      if (!read && !failed_) {
        failed_ = true;
        failure_ = range;
      }
      if (!read) break;
      add(range);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    --working_;
    changed_.notify_all();
  }

  // Adds the counts and sums of one range's groups. Call with the lock.
  void add(ResultSet& range) {
    if (range.size() == 0) return;
    while (range.next()) {
      const std::string selectednum = range.get(0);
      GroupKey key(!selectednum.empty(), 0);
      if (key.first && !parseWide(selectednum, key.second)) continue;
      GroupSums& group = groups_[key];
      group.sums.resize(summands_);
      group.count += static_cast<double>(range.get(1));
      for (size_t i = 0; i < summands_; ++i) {
        group.sums[i] +=
            static_cast<double>(range.get(static_cast<int>(i) + 2));
      }
    }
  }

  const std::vector<std::string> statements_;
  const size_t summands_;
  std::mutex mutex_;
  std::condition_variable changed_;
  size_t next_ = 0;
  size_t working_ = 0;
  std::vector<bool> running_;  // per connection: a statement in flight
  bool failed_ = false;
  ResultSet failure_;
  std::map<GroupKey, GroupSums> groups_;
};

}  // namespace

bool isPlainTableName(const std::string& table) {
  std::string database, name;
  return parseTableName(table, database, name);
}

bool maySplit(const std::string& table, const ResultSet& probe,
              bool allDouble) {
  if (!allDouble || !isPlainTableName(table) || probe.columnCount() < 2) {
    return false;
  }
  const MYSQL_FIELD& idx = probe.columnInfo(0);
  return isIntegerType(idx.type) && (idx.flags & NOT_NULL_FLAG) &&
         (idx.flags & PRI_KEY_FLAG) && isIntegerType(probe.columnInfo(1).type);
}

std::string groupedSelect(const std::string& table,
                          const std::vector<std::string>& summands) {
  std::string select = "select selectednum, count(idx)";
  for (const std::string& summand : summands)
    select += ", sum(" + summand + ")";
  return select + " from " + table;
}

SplitOutcome readSplit(MYSQL* conn, MYSQL* idle, const std::string& table,
                       const std::vector<std::string>& summands, int jobs,
                       std::vector<GroupSums>& groups, ResultSet& failed) {
  if (!splitsWell(conn, table)) return SplitOutcome::kNotSplit;
  std::vector<Connection> more;
  for (int j = 1; j < jobs; ++j) {
    // A server that allows no more connections (too many, the account's
    // limit, a refused login) leaves the run with those it has.
    std::string refused;
    Connection another = ResultSet::tryOpenLike(conn, refused);
    if (!another) break;
    more.push_back(std::move(another));
  }
  if (more.empty()) return SplitOutcome::kNotSplit;
  // The bounds are fixed here: rows added from now on are not read, so a
  // table still being filled gives a consistent prefix.
  ResultSet bounds(conn);
  if (!bounds.tryStoreQuery("select min(idx), max(idx) from " + table)) {
    failed = bounds;
    return SplitOutcome::kFailed;
  }
  bounds.next();
  Wide low = 0, high = 0;
  groups.clear();
  if (!parseWide(bounds.get(0), low) || !parseWide(bounds.get(1), high)) {
    return SplitOutcome::kRead;  // no row at all
  }
  std::vector<MYSQL*> conns = {conn};
  for (const Connection& c : more) conns.push_back(c.get());
  RangeScan scan(rangeStatements(groupedSelect(table, summands), low, high,
                                 kRangesPerConnection * conns.size()),
                 summands.size());
  if (!scan.run(conns, idle)) {
    failed = scan.failure();
    return SplitOutcome::kFailed;
  }
  groups = scan.groups();
  return SplitOutcome::kRead;
}
