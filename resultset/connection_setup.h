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
// defaultsFile when it is not empty, and the password sent only where no
// stranger can read it: over a Unix socket, over verified TLS, or under
// the server's public key pinned in the option file. False, with the
// reason in error, when that cannot be arranged.
bool setUpConnection(MYSQL* conn, const std::string& defaultsFile,
                     std::string& error);

// Why conn failed to open, in words that never come from a stale buffer.
std::string connectionError(MYSQL* conn);

// mysql_close, after releasing what the library would leak: Connector/C
// never frees the path of a pinned public key.
void closeLibraryConnection(MYSQL* conn);

#endif  // TALLYPLOT_RESULTSET_CONNECTION_SETUP_H_
