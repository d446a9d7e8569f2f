// The one-pass query plan: every series from a single grouped scan of the
// data table, instead of one scan per series. It reports nothing itself:
// whenever it cannot give the document, the run falls back to the
// per-series plan, whose statements and diagnostics are the ones users
// know.
#ifndef TALLYPLOT_ONE_PASS_PLAN_H_
#define TALLYPLOT_ONE_PASS_PLAN_H_

#include <string>
#include <vector>

#include "resultset.h"
#include "series.h"

// The statement that reads the group sizes and every column's sums:
// select selectednum, count(idx), sum(<summand>), ... from table group by
// selectednum order by selectednum asc.
std::string onePassQuery(const std::string& table,
                         const std::vector<std::string>& summands);

// Reads the sums rows on dataconn, the summed columns' types on conn
// (select <columns> from table limit 0), and then every series with one
// statement on conn. Returns false when that cannot give the document: a
// statement fails, the table has no rows, the group size is 0, or a sums
// row or a value fails its check.
bool readOnePass(MYSQL* conn, MYSQL* dataconn, const std::string& table,
                 std::vector<ChartSeries>& series);

#endif  // TALLYPLOT_ONE_PASS_PLAN_H_
