#include "run.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "document.h"
#include "number_setting.h"
#include "one_pass_plan.h"
#include "output_file.h"
#include "per_series_plan.h"
#include "rendering.h"
#include "resultset.h"
#include "series.h"
#include "standard_streams.h"
#include "termination_signals.h"

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

// The usage line, with the program's name as invoked.
std::string usage(const char* program) {
  return std::string("Usage: ") + program +
         " <filename> [<host> <user> <pass> <table> <db> <outputdb>]\n";
}

// What --help prints: the usage line, the settings with their defaults and
// the environment.
std::string help(const char* program) {
  const Settings defaults;
  return usage(program) +
         "Writes a two-page EPS chart of a table of evaluated cases to "
         "<filename>;\n"
         "a name ending in .pdf gets both pages as a PDF, one ending in .png "
         "the chart\npage as a PNG picture, both rendered by Ghostscript "
         "(gs).\n\n"
         "Settings, all six or none (default):\n"
         "  host      the server (" +
         defaults.host +
         "); localhost or empty: its Unix socket\n"
         "  user      the account (" +
         defaults.user +
         ")\n"
         "  pass      its password (" +
         defaults.pass +
         "); empty: the option file's, if one is read\n"
         "  table     the data table, in outputdb (" +
         defaults.tbl +
         ")\n"
         "  db        the database of the sums table (" +
         defaults.db +
         ")\n"
         "  outputdb  the database of the data table (" +
         defaults.outputdb +
         ")\n\n"
         "Environment:\n"
         "  TALLYPLOT_DEFAULTS_FILE  an option file to read ([client], "
         "[client-server],\n"
         "                           [client-mariadb], [tallyplot])\n"
         "  TALLYPLOT_PLAN           per-series: one statement per series\n"
         "  TALLYPLOT_JOBS           connections that read the data table at "
         "once (1 to 64;\n"
         "                           jobs= in [tallyplot]); default 1\n"
         "  TALLYPLOT_PNG_DPI        the PNG's dots per inch, " +
         std::to_string(kPngResolution.lowest) + " to " +
         std::to_string(kPngResolution.highest) + " (" +
         std::to_string(kPngResolution.fallback) +
         ");\n"
         "                           or png-dpi in the option file's "
         "[tallyplot]\n"
         "  MYSQL_TCP_PORT           the server's port\n"
         "  MYSQL_UNIX_PORT          the server's Unix socket\n\n"
         "Exit status 0 when the file is written, 1 after one diagnostic\n"
         "(the file left as it was). See tallyplot(1).\n";
}

// Writes the text --help or --version asks for when that is the one
// argument, and sets status; false for any other command line. A file
// called that can still be written as ./--help.
bool answerHelpOrVersion(int argc, char** argv, int& status) {
  if (argc != 2) return false;
  const std::string option = argv[1];
  if (option == "--help" || option == "-h") {
    std::cout << help(argv[0]);
  } else if (option == "--version") {
    std::cout << "tallyplot " TALLYPLOT_VERSION "\n";
  } else {
    return false;
  }
  // Started with standard output closed, the text went to the stand-in,
  // and nobody reads it.
  const bool closed = isStandIn(STDOUT_FILENO);
  status = !closed && std::cout.flush() ? 0 : 1;
  if (status != 0) {
    std::cerr << "Failed to write output file: standard output: "
              << std::strerror(closed ? EBADF : errno) << "\n";
  }
  return true;
}

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

// How many connections may read the data table at once: one, unless asked
// for, since each more is a connection to a shared server; a run that
// splits its scan across all the cores of a large one must still be asked.
const NumberSetting kJobs = {"TALLYPLOT_JOBS", "jobs", 1, 64, 1};

// How a run reads the series from the database.
enum class QueryPlan {
  kOnePass,    // one grouped scan, whatever the outcome
  kPerSeries,  // one grouped scan per series
};

// The plan TALLYPLOT_PLAN asks for. Returns false after writing a
// diagnostic when it names no plan: a misspelt escape hatch must not
// silently run the other plan.
bool readQueryPlan(QueryPlan& plan) {
  const char* value = std::getenv("TALLYPLOT_PLAN");
  if (value == nullptr || *value == '\0') {
    plan = QueryPlan::kOnePass;
    return true;
  }
  if (std::strcmp(value, "per-series") == 0) {
    plan = QueryPlan::kPerSeries;
    return true;
  }
  std::cerr << "Invalid TALLYPLOT_PLAN \"" << value
            << "\": set it to \"per-series\" or leave it unset or empty\n";
  return false;
}

// Hands the option file TALLYPLOT_DEFAULTS_FILE names to the query layer.
// Returns false after writing a diagnostic when it cannot be read: the
// client library would silently go on without it, and without the TLS or
// the certificates it asks for.
bool useDefaultsFile() {
  const char* path = std::getenv("TALLYPLOT_DEFAULTS_FILE");
  if (path == nullptr || *path == '\0') return true;
  const std::string reason = ResultSet::useDefaultsFile(path);
  if (reason.empty()) return true;
  std::cerr << "Cannot read TALLYPLOT_DEFAULTS_FILE \"" << path
            << "\": " << reason << "\n";
  return false;
}

// Builds the whole document in out from the two databases. Returns false
// after writing the diagnostic when the data cannot make a document.
bool buildDocument(std::ostream& out, const Settings& settings, QueryPlan plan,
                   int jobs) {
  Connection conn = ResultSet::makeConn(settings.host, settings.user,
                                        settings.pass, settings.outputdb);
  Connection dataconn = ResultSet::makeConn(settings.host, settings.user,
                                            settings.pass, settings.db);
  std::vector<ChartSeries> series;
  // Either plan ends a failed run with the per-series plan's diagnostic.
  std::string failure =
      plan == QueryPlan::kOnePass
          ? readOnePass(conn.get(), dataconn.get(), settings.tbl, jobs, series)
          : readPerSeries(conn.get(), dataconn.get(), settings.tbl, series);
  if (!failure.empty()) {
    std::cout << failure;
    return false;
  }
  writeDocument(out, series);
  return true;
}

}  // namespace

int runTallyplot(int argc, char** argv) {
  keepStandardStreams();
  int status = 1;
  if (answerHelpOrVersion(argc, argv, status)) return status;
  if (argc != 2 && argc != 8) {
    std::cout << usage(argv[0]);
    return 1;
  }
  // Before anything that can wait (the option file may be a pipe that a
  // passphrase prompt feeds), so that the process list never shows the
  // password.
  Settings settings = readSettings(argc, argv);
  QueryPlan plan;
  if (!readQueryPlan(plan) || !useDefaultsFile()) return 1;
  std::string invalid;
  const int jobs = readNumberSetting(kJobs, invalid);
  if (!invalid.empty()) {
    std::cerr << invalid;
    return 1;
  }
  Rendering rendering(argv[1]);
  if (!rendering.prepare()) {
    std::cerr << rendering.error();
    return 1;
  }
  watchTerminationSignals();
  // The document is built in memory and written only once it is complete,
  // so a run that fails anywhere, even deep in the query layer, leaves the
  // output path as it was.
  OutputFile file(argv[1]);
  if (!file.checkWritable()) {
    std::cerr << file.error() << "\n";
    return 1;
  }
  std::ostringstream document;
  if (!buildDocument(document, settings, plan, jobs)) return 1;
  std::string content = document.str();
  if (!rendering.apply(content)) {
    std::cerr << rendering.error();
    return 1;
  }
  if (!file.write(content)) {
    std::cerr << file.error() << "\n";
    return 1;
  }
  return 0;
}
