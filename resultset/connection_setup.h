// How every connection is set up before it is opened, whichever client
// library the program is built with. The one place that knows which
// library that is.
#ifndef TALLYPLOT_RESULTSET_CONNECTION_SETUP_H_
#define TALLYPLOT_RESULTSET_CONNECTION_SETUP_H_

#include <mysql.h>

#include <string>

// Asks for TLS whenever the server offers it (plain only when it offers
// none, unverified unless the option file asks for verification), a
// bounded wait for the connection and its handshake, the settings of
// defaultsFile when it is not empty, and no password in clear text over an
// unencrypted TCP link. False, with the reason in error, when that cannot
// be arranged.
bool setUpConnection(MYSQL* conn, const std::string& defaultsFile,
                     std::string& error);

#endif  // TALLYPLOT_RESULTSET_CONNECTION_SETUP_H_
