// The per-series query plan: one grouped statement per series. It reads
// the data table 17 + K times, but each statement is simple enough for
// review tools that expect one statement per series, and its failures are
// the ones diagnosed.
#ifndef TALLYPLOT_PER_SERIES_PLAN_H_
#define TALLYPLOT_PER_SERIES_PLAN_H_

#include <string>
#include <vector>

#include "resultset.h"
#include "series.h"

// The group-size query: select count(idx) from table group by selectednum
// order by selectednum asc; its first row, the lowest group's on every
// server (MySQL 8 does not sort groups unasked), is the group size.
std::string groupSizeQuery(const std::string& table);

// The query of one series: select selectednum, sum(resource) from table
// group by selectednum order by selectednum asc.
std::string pointsQuery(const std::string& table, const std::string& resource);

// Percentage of each selectednum group's rows not exceeding resource.
std::vector<double> getPoints(ResultSet res, std::string table,
                              std::string resource, int order);

// Reads every series: the group size and the fixed series from table on
// conn, the sums rows on dataconn, then one series per row. Returns the
// empty text, or the diagnostic that ends the run; failures of the
// statements themselves end the process inside the query layer.
std::string readPerSeries(MYSQL* conn, MYSQL* dataconn,
                          const std::string& table,
                          std::vector<ChartSeries>& series);

#endif  // TALLYPLOT_PER_SERIES_PLAN_H_
