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
         auto start = std::chrono::steady_clock::now();
         // Until the statement is in flight.
         while (!ResultSet::cancelStatementInFlight(
             std::chrono::milliseconds(1000))) {
           std::this_thread::sleep_for(std::chrono::milliseconds(10));
           start = std::chrono::steady_clock::now();
         }
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
