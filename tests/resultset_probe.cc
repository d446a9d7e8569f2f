// Drives the query layer into one of its failures, so a test can run this
// program as a subprocess and check the diagnostic on both streams and the
// exit status. Usage:
//
//   resultset_probe <scenario> <database> [<query> [<argument>]]
//
// It connects as root/wqzk to 127.0.0.1 on the client library's default
// port. When the scenario does not end the process, it says so on standard
// error and exits with status 3, so a missing diagnostic cannot pass.
#include <chrono>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <map>
#include <string>
#include <thread>

#include "resultset.h"

namespace {

// The command line of one probe run.
struct ProbeArgs {
  std::string database;
  std::string query;
  std::string argument;
};

Connection connect(const std::string& database,
                   const std::string& password = "wqzk") {
  return ResultSet::makeConn("127.0.0.1", "root", password, database);
}

// Stores args.query on a fresh connection and hands the cursor to step.
void withStored(const ProbeArgs& args,
                const std::function<void(ResultSet&)>& step) {
  Connection conn = connect(args.database);
  ResultSet res(conn.get());
  res.storeQuery(args.query);
  step(res);
}

// Waits until query runs on the server, watching over a connection of its
// own: the query layer's connections are for one thread at a time.
void waitUntilRunning(const std::string& query) {
  MYSQL* watcher = mysql_init(nullptr);
  if (mysql_real_connect(watcher, "127.0.0.1", "root", "wqzk", nullptr, 0,
                         nullptr, 0) == nullptr) {
    std::cerr << "resultset_probe: " << mysql_error(watcher) << "\n";
    std::_Exit(3);
  }
  const std::string running =
      "select 1 from information_schema.processlist where info = '" + query +
      "'";
  for (bool found = false; !found;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (mysql_query(watcher, running.c_str()) != 0) std::_Exit(3);
    MYSQL_RES* rows = mysql_store_result(watcher);
    found = rows != nullptr && mysql_num_rows(rows) > 0;
    mysql_free_result(rows);
  }
  mysql_close(watcher);
}

using Scenario = std::function<void(const ProbeArgs&)>;

// Every scenario, by the name given on the command line.
const std::map<std::string, Scenario>& scenarios() {
  static const std::map<std::string, Scenario> all = {
      {"connect",  // the argument is the password
       [](const ProbeArgs& a) { connect(a.database, a.argument); }},
      {"next",
       [](const ProbeArgs& a) {
         withStored(a, [](ResultSet& r) { r.next(); });
       }},
      {"get-name",
       [](const ProbeArgs& a) {
         withStored(a, [&](ResultSet& r) {
           r.next();
           r.get(a.argument);
         });
       }},
      {"store",
       [](const ProbeArgs& a) {
         Connection conn = connect(a.database);
         ResultSet res(conn.get());
         res.query << a.query;
         res.store();
       }},
      {"cancel",  // argument: an option file for the KILL connection
       [](const ProbeArgs& a) {
         Connection conn = connect(a.database);
         ResultSet::useDefaultsFile(a.argument);
         std::thread([&conn, &a] {
           ResultSet(conn.get()).storeQuery(a.query);
         }).detach();
         waitUntilRunning(a.query);
         const auto start = std::chrono::steady_clock::now();
         ResultSet::cancelStatementInFlight(std::chrono::milliseconds(1000));
         std::cout << "cancelled after "
                   << std::chrono::duration_cast<std::chrono::seconds>(
                          std::chrono::steady_clock::now() - start)
                          .count()
                   << " s" << std::endl;
         std::_Exit(1);
       }},
  };
  return all;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 5 || scenarios().count(argv[1]) == 0) {
    std::cerr << "usage: resultset_probe <scenario> <database> [<query> "
                 "[<argument>]]\n";
    return 2;
  }
  ProbeArgs args{argv[2], argc > 3 ? argv[3] : "", argc > 4 ? argv[4] : ""};
  scenarios().at(argv[1])(args);
  std::cerr << "resultset_probe: scenario " << argv[1]
            << " ended without a diagnostic\n";
  return 3;
}
