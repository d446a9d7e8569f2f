// The one grouped scan of the data table split into ranges of its primary
// key idx, read at once on several connections: the server runs each
// statement on one core, so a scan split this way uses as many as it has
// connections. The document is the same, byte for byte: each row is read
// once, and the groups' partial counts and double sums of small integers
// add up exactly in any order.
#ifndef TALLYPLOT_SPLIT_SCAN_H_
#define TALLYPLOT_SPLIT_SCAN_H_

#include <string>
#include <vector>

#include "resultset.h"

// One selectednum group of the grouped scan: its count of idx and the sum
// of each summand, in summand order.
struct GroupSums {
  double count;
  std::vector<double> sums;
};

// Whether table names a table as it is ("name" or "db.name", either part
// in backquotes or not), rather than a view's or a table expression's text.
bool isPlainTableName(const std::string& table);

// Whether the scan of table may be split, as far as the columns' types
// tell (probe is the limit-0 result of idx, selectednum and the summed
// columns): idx and selectednum integers, idx not null and part of the
// primary key, and every column summed as a double (allDouble).
bool maySplit(const std::string& table, const ResultSet& probe, bool allDouble);

// How a split scan ended.
enum class SplitOutcome {
  kNotSplit,  // idx leads no primary key, a Spider table, no second
              // connection opened
  kRead,      // the groups are read
  kFailed,    // a statement failed; the others were stopped
};

// Reads the groups of table, the selected list being
// "selectednum, count(idx), sum(<summand>), ...", in ascending selectednum
// order into groups: with ranges of idx on conn and up to jobs - 1 more
// connections like it, while idle (a connection of the run with nothing
// to do meanwhile) is free to stop the others' statements when one fails.
// Asks the server first whether idx leads the table's primary key and
// whether the table is one of Spider's, which is never split. On
// kFailed, failed describes the statement that failed first.
SplitOutcome readSplit(MYSQL* conn, MYSQL* idle, const std::string& table,
                       const std::vector<std::string>& summands, int jobs,
                       std::vector<GroupSums>& groups, ResultSet& failed);

// The select list and table of the grouped statements:
// "select selectednum, count(idx), sum(<summand>), ... from <table>".
std::string groupedSelect(const std::string& table,
                          const std::vector<std::string>& summands);

#endif  // TALLYPLOT_SPLIT_SCAN_H_
