#include "connection_setup.h"

#include <cstdio>
#include <cstring>

#ifdef LIBMARIADB
#include <mysql/plugin_auth.h>
#endif

namespace {

// Covers the TCP connection, the server's greeting, the TLS handshake and
// the login: long enough for a loaded server or a slow link (a healthy one
// answers in milliseconds, and servers give up on a silent client after
// 10 s by default), short enough that a cron job against a listener that
// never answers ends with a diagnostic instead of hanging.
constexpr unsigned kConnectTimeoutSeconds = 30;

// The option file's groups besides the library's own ([client] and, with
// Connector/C, [client-server] and [client-mariadb]).
constexpr char kOptionGroup[] = "tallyplot";

#ifdef LIBMARIADB

// Whether the password may cross this link as it is: a Unix socket, which
// never leaves the machine, or TLS with the server's certificate verified.
// TLS alone is not enough: anyone listening on the default port can offer
// it with a certificate of their own.
bool isPrivateLink(MYSQL* mysql) {
  my_bool verified = 0;
  if (mysql_get_ssl_cipher(mysql) != nullptr &&
      mysql_get_optionv(mysql, MYSQL_OPT_SSL_VERIFY_SERVER_CERT, &verified) ==
          0 &&
      verified) {
    return true;
  }
  unsigned int type = 1;
  return mariadb_get_infov(mysql, MARIADB_CONNECTION_PVIO_TYPE, &type) == 0 &&
         type == MARIADB_CONNECTION_UNIXSOCKET;
}

int refuseClearText(MYSQL* mysql, const char* method) {
  mysql->net.last_errno = 2059;  // CR_AUTH_PLUGIN_CANNOT_LOAD
  std::strcpy(mysql->net.sqlstate, "HY000");
  std::snprintf(mysql->net.last_error, sizeof mysql->net.last_error,
                "the server asked for the password in clear text (%s) over "
                "a connection neither verified nor local; refused",
                method);
  return CR_ERROR;
}

int sendPassword(MYSQL_PLUGIN_VIO* vio, MYSQL* mysql) {
  const char* password = mysql->passwd != nullptr ? mysql->passwd : "";
  const int length = static_cast<int>(std::strlen(password)) + 1;
  return vio->write_packet(
             vio, reinterpret_cast<const unsigned char*>(password), length) == 0
             ? CR_OK
             : CR_ERROR;
}

int guardedClearPassword(MYSQL_PLUGIN_VIO* vio, MYSQL* mysql) {
  if (!isPrivateLink(mysql)) {
    return refuseClearText(mysql, "mysql_clear_password");
  }
  return sendPassword(vio, mysql);
}

// The dialog method (PAM) asks questions and takes the answers in clear
// text; only its password questions can be answered here.
int guardedDialog(MYSQL_PLUGIN_VIO* vio, MYSQL* mysql) {
  if (!isPrivateLink(mysql)) return refuseClearText(mysql, "dialog");
  for (;;) {
    unsigned char* packet = nullptr;
    const int length = vio->read_packet(vio, &packet);
    if (length < 0) return CR_ERROR;
    if (length == 0 || packet[0] == 0x00 || packet[0] == 0xFE) {
      return CR_OK_HANDSHAKE_COMPLETE;  // the server has decided
    }
    if ((packet[0] >> 1) != 2) return refuseClearText(mysql, "a question");
    if (sendPassword(vio, mysql) != CR_OK) return CR_ERROR;
    if (packet[0] & 1) return CR_OK;  // the last question
  }
}

// A client authentication plugin, laid out as the library expects.
struct AuthenticationPlugin {
  MYSQL_CLIENT_PLUGIN_HEADER
  int (*authenticateUser)(MYSQL_PLUGIN_VIO* vio, MYSQL* mysql);
};

// A guard named after the library's method it takes the place of.
AuthenticationPlugin guard(const char* method,
                           int (*authenticate)(MYSQL_PLUGIN_VIO*, MYSQL*)) {
  return {
      2,       // MYSQL_CLIENT_AUTHENTICATION_PLUGIN
      0x0100,  // its interface version
      method,      "tallyplot", "answers only over verified TLS or a socket",
      {1, 0, 0},   "",          nullptr,
      nullptr,     nullptr,     nullptr,
      authenticate};
}

AuthenticationPlugin gClearPasswordGuard =
    guard("mysql_clear_password", guardedClearPassword);
AuthenticationPlugin gDialogGuard = guard("dialog", guardedDialog);

// Takes the place of the library's own clear-text methods, which would
// answer an impostor on the default port. They are loaded on demand, so
// registering first wins; once one of them is loaded, this fails.
bool guardClearText(MYSQL* conn) {
  static bool guarded = false;
  for (AuthenticationPlugin* plugin : {&gClearPasswordGuard, &gDialogGuard}) {
    auto* generic = reinterpret_cast<st_mysql_client_plugin*>(plugin);
    if (!guarded && mysql_client_register_plugin(conn, generic) != generic) {
      return false;
    }
  }
  guarded = true;
  // The method the greeting names is answered before TLS is up; starting
  // with the native one, a clear-text method can only be asked for after.
  // The RSA methods (sha256_password, caching_sha2_password) encrypt the
  // password with whatever public key the server sends, an impostor's too,
  // so they are left out unless the option file's restricted-auth lists
  // them; the clear-text methods listed are the guards above.
  return mysql_options(conn, MYSQL_DEFAULT_AUTH, "mysql_native_password") ==
             0 &&
         mysql_optionsv(conn, MARIADB_OPT_RESTRICTED_AUTH,
                        "mysql_native_password,client_ed25519,"
                        "auth_gssapi_client,parsec,mysql_clear_password,"
                        "dialog") == 0;
}

bool requestTlsWhenOffered(MYSQL* conn) {
  // Connector/C 3.3 encrypts only when asked; 3.4 verifies by default and
  // then refuses plain and self-signed servers. Both: TLS if offered.
  my_bool verify = 0;
  return mysql_options(conn, MYSQL_OPT_SSL_VERIFY_SERVER_CERT, &verify) == 0 &&
         mysql_ssl_set(conn, nullptr, nullptr, nullptr, nullptr, nullptr) == 0;
}

#else

// libmysqlclient refuses the clear-text method unless it is enabled, and
// has no dialog method.
bool guardClearText(MYSQL*) { return true; }

bool requestTlsWhenOffered(MYSQL* conn) {
  unsigned int mode = SSL_MODE_PREFERRED;
  return mysql_options(conn, MYSQL_OPT_SSL_MODE, &mode) == 0;
}

#endif

}  // namespace

bool setUpConnection(MYSQL* conn, const std::string& defaultsFile,
                     std::string& error) {
  unsigned int timeout = kConnectTimeoutSeconds;
  if (!requestTlsWhenOffered(conn) || !guardClearText(conn) ||
      mysql_options(conn, MYSQL_OPT_CONNECT_TIMEOUT, &timeout) != 0) {
    error = "cannot set up the connection's security options";
    return false;
  }
  // The file is read when the connection opens; its settings override the
  // ones above, and the arguments of mysql_real_connect override it.
  if (!defaultsFile.empty() &&
      (mysql_options(conn, MYSQL_READ_DEFAULT_FILE, defaultsFile.c_str()) !=
           0 ||
       mysql_options(conn, MYSQL_READ_DEFAULT_GROUP, kOptionGroup) != 0)) {
    error = "cannot read the option file " + defaultsFile;
    return false;
  }
  return true;
}
