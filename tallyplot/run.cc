#include "run.h"

#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "draw.h"
#include "line.h"
#include "output_file.h"
#include "ps.h"
#include "resultset.h"
#include "series.h"

namespace {

// The database settings of one run.
struct Settings {
  std::string host = "127.0.0.1";
  std::string user = "root";
  std::string pass = "wqzk";
  std::string tbl = "fleen";
  std::string db = "vetch_data";
  std::string outputdb = "vetch_output";
};

// Takes the settings from the command line; the password's characters in
// argv are overwritten so that other users cannot read it in the process
// list for the rest of the run.
Settings readSettings(int argc, char** argv) {
  Settings settings;
  if (argc != 8) return settings;
  settings.host = argv[2];
  settings.user = argv[3];
  settings.pass = argv[4];
  std::memset(argv[4], 'x', std::strlen(argv[4]));
  settings.tbl = argv[5];
  settings.db = argv[6];
  settings.outputdb = argv[7];
  return settings;
}

// The number of rows of the first selectednum group, or 0 with the
// diagnostic written when that group counts no idx at all.
int readGroupSize(ResultSet& res, const std::string& tbl) {
  res.query << "select count(idx) from " << tbl << " group by selectednum";
  std::string groupquery = res.print();
  res.store();
  res.next();
  int order = static_cast<int>(static_cast<double>(res.get(0)));
  if (order == 0) {
    // Every percentage would divide by zero and the document would carry
    // inf and nan, which no PostScript interpreter accepts.
    std::cout << "Group size is 0 in query \"" << groupquery << "\"\n";
  }
  return order;
}

// The names of the extra series, in the order of the rows of sums.
std::vector<std::string> collectSumNames(ResultSet& sums) {
  std::vector<std::string> sumnames;
  if (sums.size() == 0) return sumnames;
  sums.rewind();
  sumnames.push_back(sums.get("name"));
  while (sums.next()) sumnames.push_back(sums.get("name"));
  return sumnames;
}

// Page 2: the table frame with its captions, then one row per series in
// the order the series were built.
void printSummaryTable(std::ostream& out, ResultSet& sums,
                       const std::vector<Line>& lines) {
  int numpoints = static_cast<int>(lines.front().points.size());
  printTable(out, numpoints, collectSumNames(sums));
  for (size_t n = 0; n < lines.size(); ++n) {
    drawRow(out, static_cast<int>(n), lines[n].points);
  }
  printTableFooter(out);
}

// Builds the whole document in out from the two databases. Returns false
// after writing the diagnostic when the data cannot make a document.
bool buildDocument(std::ostream& out, const Settings& settings) {
  printFile(out);
  Connection conn = ResultSet::makeConn(settings.host, settings.user,
                                        settings.pass, settings.outputdb);
  Connection dataconn = ResultSet::makeConn(settings.host, settings.user,
                                            settings.pass, settings.db);
  ResultSet res(conn.get());
  int order = readGroupSize(res, settings.tbl);
  if (order == 0) return false;

  std::vector<Line> lines;
  std::string failure = drawFixedSeries(out, res, settings.tbl, order, lines);
  if (!failure.empty()) {
    std::cout << failure;
    return false;
  }
  ResultSet sums(dataconn.get());
  sums.query << "select * from sums where increment=1";
  sums.store();
  failure = drawSumsSeries(out, sums, res, settings.tbl, order, lines);
  if (!failure.empty()) {
    std::cout << failure;
    return false;
  }

  out << "0 0 0 setrgbcolor\n";
  writeLabels(out, lines);
  printFooter(out);
  printSummaryTable(out, sums, lines);
  return true;
}

}  // namespace

int runTallyplot(int argc, char** argv) {
  if (argc != 2 && argc != 8) {
    std::cout << "Usage: " << argv[0]
              << " <filename> [<host> <user> <pass> <table> <db> <outputdb>]\n";
    return 1;
  }
  Settings settings = readSettings(argc, argv);
  // The document is built in memory and written only once it is complete,
  // so a run that fails anywhere, even deep in the query layer, leaves the
  // output path as it was.
  OutputFile file(argv[1]);
  if (!file.checkWritable()) {
    std::cerr << file.error() << "\n";
    return 1;
  }
  std::ostringstream document;
  if (!buildDocument(document, settings)) return 1;
  if (!file.write(document.str())) {
    std::cerr << file.error() << "\n";
    return 1;
  }
  return 0;
}
