// The one-pass query plan: every series from a single grouped scan of the
// data table, instead of one scan per series. Whatever the outcome, a run
// costs the server at most that one scan, and it ends with exactly the
// diagnostic the per-series plan gives for the same tables: what that plan
// would meet first is found from the sums rows and from statements that
// read no row, and the scan covers only the series before it.
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
// (select idx, selectednum, <columns> from table limit 0), and then every
// series with one statement on conn, or, with jobs above 1 where the scan
// may be split, with statements over ranges of idx on up to jobs
// connections. Returns the empty text, or the diagnostic that ends the
// run. A statement the server stops while it runs (killed, over its time
// limit, connection lost) ends the run at once with its own failure; one
// it refuses as written is reported as the per-series plan reports it.
std::string readOnePass(MYSQL* conn, MYSQL* dataconn, const std::string& table,
                        int jobs, std::vector<ChartSeries>& series);

#endif  // TALLYPLOT_ONE_PASS_PLAN_H_
