#include "connection_setup.h"

#include <errmsg.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "option_file.h"

#ifdef LIBMARIADB
#include <mysql/plugin_auth.h>

#include "sha2_password.h"
#endif

namespace {

// Covers the TCP connection, the server's greeting, the TLS handshake and
// the login: long enough for a loaded server or a slow link (a healthy one
// answers in milliseconds, and servers give up on a silent client after
// 10 s by default), short enough that a cron job against a listener that
// never answers ends with a diagnostic instead of hanging.
constexpr unsigned kConnectTimeoutSeconds = 30;

#ifdef LIBMARIADB

// The groups Connector/C reads from an option file, and the program's own.
const std::vector<std::string> kOptionGroups = {
    "client", "client-server", "client-mariadb", kProgramGroup};

// The methods a server may ask for: those that never show the password to
// the server and the guards below. Any other is refused by the library.
constexpr char kAllowedMethods[] =
    "mysql_native_password,caching_sha2_password,sha256_password,"
    "client_ed25519,auth_gssapi_client,parsec,mysql_clear_password,dialog";

// The server-public-key-path of the option file, which Connector/C
// ignores: read by every connection's set-up, used by its login.
struct PinnedKey {
  std::mutex mutex;
  std::string path;
};

PinnedKey& pinnedKey() {
  static PinnedKey instance;
  return instance;
}

// The server's public key the user pinned: MariaDB's server-public-key,
// which the library reads from the option file, else MySQL's
// server-public-key-path. Empty when neither is set.
std::string pinnedKeyFile(MYSQL* mysql) {
  const char* mariaDbName = nullptr;
  if (mysql_get_optionv(mysql, MYSQL_SERVER_PUBLIC_KEY, &mariaDbName) == 0 &&
      mariaDbName != nullptr && *mariaDbName != '\0') {
    return mariaDbName;
  }
  std::lock_guard<std::mutex> lock(pinnedKey().mutex);
  return pinnedKey().path;
}

// caching_sha2_password's answers to its scramble.
constexpr unsigned char kFastAuthSuccess = 0x03, kFullAuthRequired = 0x04;

bool isUnixSocket(MYSQL* mysql) {
  unsigned int type = 1;
  return mariadb_get_infov(mysql, MARIADB_CONNECTION_PVIO_TYPE, &type) == 0 &&
         type == MARIADB_CONNECTION_UNIXSOCKET;
}

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
  return isUnixSocket(mysql);
}

// Ends the login with text as the connection's error.
int refuseLogin(MYSQL* mysql, const std::string& text) {
  mysql->net.last_errno = CR_AUTH_PLUGIN_ERR;
  std::strcpy(mysql->net.sqlstate, "HY000");
  std::snprintf(mysql->net.last_error, sizeof mysql->net.last_error, "%s",
                text.c_str());
  return CR_ERROR;
}

int refuseClearText(MYSQL* mysql, const char* method) {
  return refuseLogin(mysql, std::string("the server asked for the password "
                                        "in clear text (") +
                                method +
                                ") over a connection neither verified nor "
                                "local; refused");
}

const char* password(MYSQL* mysql) {
  return mysql->passwd != nullptr ? mysql->passwd : "";
}

int writePacket(MYSQL_PLUGIN_VIO* vio, const std::string& bytes) {
  return vio->write_packet(vio,
                           reinterpret_cast<const unsigned char*>(bytes.data()),
                           static_cast<int>(bytes.size())) == 0
             ? CR_OK
             : CR_ERROR;
}

int sendPassword(MYSQL_PLUGIN_VIO* vio, MYSQL* mysql) {
  return writePacket(vio, std::string(password(mysql)) + '\0');
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

// Reads the nonce a SHA-256 method starts with; CR_OK or the error.
int readNonce(MYSQL_PLUGIN_VIO* vio, std::string& nonce) {
  unsigned char* packet = nullptr;
  const int length = vio->read_packet(vio, &packet);
  if (length < 0) return CR_ERROR;
  if (length != static_cast<int>(kNonceLength) + 1) {
    return CR_SERVER_HANDSHAKE_ERR;
  }
  nonce.assign(reinterpret_cast<char*>(packet), kNonceLength);
  return CR_OK;
}

// Sends the password a SHA-256 method asks for in the form the server
// reads on this link: as it is over TLS (and for caching_sha2_password
// over a Unix socket too), but only over a private link; otherwise
// encrypted, but only under the public key the user pinned, never under a
// key the server sends, which an impostor would send as well.
int sendPasswordWhereSafe(MYSQL_PLUGIN_VIO* vio, MYSQL* mysql,
                          const char* method, bool socketTakesClearText,
                          const std::string& nonce) {
  const bool clearText = mysql_get_ssl_cipher(mysql) != nullptr ||
                         (socketTakesClearText && isUnixSocket(mysql));
  if (clearText && isPrivateLink(mysql)) return sendPassword(vio, mysql);
  const std::string keyFile = clearText ? "" : pinnedKeyFile(mysql);
  if (keyFile.empty()) {
    // sha256_password takes the password in clear only over TLS, so a
    // Unix socket does not help it.
    return refuseLogin(
        mysql, std::string("the server asked for the password (") + method +
                   "), which this program sends only " +
                   (socketTakesClearText ? "over the Unix socket, " : "") +
                   "over TLS it verified (ssl-ca with "
                   "ssl-verify-server-cert=1 in the option file), or "
                   "without TLS (ssl-mode=DISABLED there) under the "
                   "server's public key pinned with server-public-key-path; "
                   "refused");
  }
  std::string encrypted, error;
  if (!encryptPassword(password(mysql), nonce, keyFile, encrypted, error)) {
    return refuseLogin(mysql, error);
  }
  return writePacket(vio, encrypted);
}

// The scramble first, which the server accepts when it has seen the
// password since its restart; the password itself only where it is safe.
int cachingSha2Password(MYSQL_PLUGIN_VIO* vio, MYSQL* mysql) {
  std::string nonce;
  int status = readNonce(vio, nonce);
  if (status != CR_OK) return status;
  if (*password(mysql) == '\0') return writePacket(vio, "");
  status = writePacket(vio, sha2Scramble(password(mysql), nonce));
  if (status != CR_OK) return status;
  unsigned char* reply = nullptr;
  const int length = vio->read_packet(vio, &reply);
  if (length < 0) return CR_ERROR;
  if (length == 1 && reply[0] == kFastAuthSuccess) return CR_OK;
  if (length == 1 && reply[0] == kFullAuthRequired) {
    return sendPasswordWhereSafe(vio, mysql, "caching_sha2_password", true,
                                 nonce);
  }
  return CR_SERVER_HANDSHAKE_ERR;
}

int sha256Password(MYSQL_PLUGIN_VIO* vio, MYSQL* mysql) {
  std::string nonce;
  const int status = readNonce(vio, nonce);
  if (status != CR_OK) return status;
  if (*password(mysql) == '\0') return writePacket(vio, "");
  return sendPasswordWhereSafe(vio, mysql, "sha256_password", false, nonce);
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
      method,      "tallyplot", "the password only where no stranger reads it",
      {1, 0, 0},   "",          nullptr,
      nullptr,     nullptr,     nullptr,
      authenticate};
}

AuthenticationPlugin gGuards[] = {
    guard("mysql_clear_password", guardedClearPassword),
    guard("dialog", guardedDialog),
    guard("caching_sha2_password", cachingSha2Password),
    guard("sha256_password", sha256Password),
};

// Takes the place of the library's own methods that send the password, in
// clear or under whatever key the server sends, to an impostor on the
// default port as well. They are loaded on demand, so registering first
// wins; once one of them is loaded, this fails.
bool guardPasswords(MYSQL* conn) {
  static bool guarded = false;
  for (AuthenticationPlugin& plugin : gGuards) {
    auto* generic = reinterpret_cast<st_mysql_client_plugin*>(&plugin);
    if (!guarded && mysql_client_register_plugin(conn, generic) != generic) {
      return false;
    }
  }
  guarded = true;
  // The method the greeting names is answered before TLS is up; starting
  // with the native one, the others can only be asked for after.
  return mysql_options(conn, MYSQL_DEFAULT_AUTH, "mysql_native_password") ==
             0 &&
         mysql_optionsv(conn, MARIADB_OPT_RESTRICTED_AUTH, kAllowedMethods) ==
             0;
}

// Connector/C knows the pinned key only by MariaDB's name,
// server-public-key, and ignores MySQL's server-public-key-path.
void readPinnedKey(const std::string& defaultsFile) {
  std::string path = defaultsFile.empty()
                         ? ""
                         : optionFileValue(defaultsFile, kOptionGroups,
                                           "server-public-key-path");
  std::lock_guard<std::mutex> lock(pinnedKey().mutex);
  pinnedKey().path = std::move(path);
}

// TLS if offered, unless the option file turns it off, in a spelling
// Connector/C does not know: a key pinned for a MySQL server serves only
// without TLS, for MySQL takes the password under its key only there.
bool requestTlsWhenOffered(MYSQL* conn, const std::string& defaultsFile) {
  // Connector/C 3.3 encrypts only when asked; 3.4 verifies by default and
  // then refuses plain and self-signed servers. Both: TLS if offered.
  my_bool verify = 0;
  if (mysql_options(conn, MYSQL_OPT_SSL_VERIFY_SERVER_CERT, &verify) != 0) {
    return false;
  }
  if (!defaultsFile.empty() &&
      optionFileTurnsTlsOff(defaultsFile, kOptionGroups)) {
    return true;
  }
  return mysql_ssl_set(conn, nullptr, nullptr, nullptr, nullptr, nullptr) == 0;
}

// The library's text, but in the program's words where the library would
// name the refused method from a buffer it has already reused.
std::string libraryError(MYSQL* conn) {
  if (mysql_errno(conn) != CR_PLUGIN_NOT_ALLOWED) return mysql_error(conn);
  std::string allowed = kAllowedMethods;
  for (size_t at = 0; (at = allowed.find(',', at)) != std::string::npos;
       at += 2) {
    allowed.replace(at, 1, ", ");
  }
  return "the server asked for an authentication method outside the ones "
         "this program uses (" +
         allowed + "); refused";
}

// Connector/C never frees the path of server-public-key (nor, after a
// failed connect, can anyone).
void releaseLeakedOptions(MYSQL* conn) {
  mysql_optionsv(conn, MYSQL_SERVER_PUBLIC_KEY, nullptr);
}

#else

// libmysqlclient refuses the clear-text method unless it is enabled, and
// has no dialog method. Its own caching_sha2_password and sha256_password
// cannot be replaced: they send the password over any TLS, verified or
// not, and under a key the user pinned; they are kept from asking the
// server for its key.
bool guardPasswords(MYSQL* conn) {
  bool askForKey = false;
  return mysql_options(conn, MYSQL_OPT_GET_SERVER_PUBLIC_KEY, &askForKey) == 0;
}

// libmysqlclient reads server-public-key-path from the file itself.
void readPinnedKey(const std::string&) {}

// The file's ssl-mode, read by the library, overrides this.
bool requestTlsWhenOffered(MYSQL* conn, const std::string&) {
  unsigned int mode = SSL_MODE_PREFERRED;
  return mysql_options(conn, MYSQL_OPT_SSL_MODE, &mode) == 0;
}

std::string libraryError(MYSQL* conn) { return mysql_error(conn); }

void releaseLeakedOptions(MYSQL*) {}

#endif

}  // namespace

bool setUpConnection(MYSQL* conn, const std::string& defaultsFile,
                     std::string& error) {
  unsigned int timeout = kConnectTimeoutSeconds;
  readPinnedKey(defaultsFile);
  if (!requestTlsWhenOffered(conn, defaultsFile) || !guardPasswords(conn) ||
      mysql_options(conn, MYSQL_OPT_CONNECT_TIMEOUT, &timeout) != 0) {
    error = "cannot set up the connection's security options";
    return false;
  }
  // The file is read when the connection opens; its settings override the
  // ones above, and the arguments of mysql_real_connect override it.
  if (!defaultsFile.empty() &&
      (mysql_options(conn, MYSQL_READ_DEFAULT_FILE, defaultsFile.c_str()) !=
           0 ||
       mysql_options(conn, MYSQL_READ_DEFAULT_GROUP, kProgramGroup) != 0)) {
    error = "cannot read the option file " + defaultsFile;
    return false;
  }
  return true;
}

std::string connectionError(MYSQL* conn) { return libraryError(conn); }

void closeLibraryConnection(MYSQL* conn) {
  releaseLeakedOptions(conn);
  mysql_close(conn);
}
