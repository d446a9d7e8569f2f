// A stand-in for a MySQL 8.0 / 8.4 server, for the tests: it greets and
// logs clients in the way MySQL 8 does (caching_sha2_password with its fast
// and full authentication, sha256_password, switches to other methods,
// PAM's dialog among them),
// over TCP, TLS and a Unix socket, answers a session's SET and the
// statements of either plan, the scan split by idx among them, with rows of
// a canned table and everything else with an error, and keeps every byte a
// client sends.
//
//   mysql8_standin --record FILE --rsa-key PEM [--tls CERT KEY] [--warm]
//                  [--greeting METHOD] [--close-idle-after N]
//
// It serves the listening sockets it inherits as descriptors 3 (TCP) and 4
// (a Unix socket, optional). Standard output gets a line per login,
// "<user>: <steps> <result>", and "idle-close" for each connection it
// closes with error 4031 after N statements on others. FILE gets every byte
// received, after TLS. Once standard input ends it waits for its clients to
// leave, and exits.
#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

// The accounts, each with its method; passwords known in clear.
struct Account {
  const char* user;
  const char* method;
  const char* password;
};
const Account kAccounts[] = {
    {"sha2", "caching_sha2_password", "s3cret-Pw"},
    {"nopw", "caching_sha2_password", ""},
    {"sha256", "sha256_password", "s3cret-Pw"},
    {"nopw256", "sha256_password", ""},
    {"clear", "mysql_clear_password", "s3cret-Pw"},
    {"pam", "dialog", "s3cret-Pw"},
    {"ldap", "authentication_ldap_sasl_client", "s3cret-Pw"},
};

// Capabilities as MySQL 8 gives them, without deprecated EOF packets and
// session tracking, which clients may do without.
constexpr uint32_t kClientSsl = 0x800, kConnectWithDb = 0x8,
                   kPluginAuth = 0x80000, kLenencData = 0x200000;
constexpr uint32_t kCapabilities =
    0x1 | 0x2 | 0x4 | kConnectWithDb | 0x200 | 0x2000 | 0x8000 | 0x10000 |
    0x20000 | 0x40000 | kPluginAuth | 0x100000 | kLenencData;
const std::string kZero(1, '\0');

// What the command line asks for, and what the connections share.
struct Server {
  std::string greeting = "caching_sha2_password";
  bool warm = false;  // every password seen since the last restart
  long closeIdleAfter = 0;
  SSL_CTX* tls = nullptr;
  EVP_PKEY* key = nullptr;
  std::string publicKeyPem;
  int record = -1;
  std::mutex mutex;  // guards cached, standard output and the record
  std::set<std::string> cached;
  std::atomic<long> statements{0};
};
Server server;

void say(const std::string& line) {
  std::lock_guard<std::mutex> lock(server.mutex);
  std::string text = line + "\n";
  if (write(STDOUT_FILENO, text.data(), text.size()) < 0) std::abort();
}

std::string int2(unsigned v) { return {char(v), char(v >> 8)}; }
std::string int4(uint32_t v) { return int2(v) + int2(v >> 16); }
std::string lenenc(const std::string& s) { return char(s.size()) + s; }

std::string sha256(const std::string& data) {
  unsigned char digest[32];
  EVP_Digest(data.data(), data.size(), digest, nullptr, EVP_sha256(), nullptr);
  return std::string(reinterpret_cast<char*>(digest), sizeof digest);
}

// What caching_sha2_password's fast path expects for password and nonce.
std::string scramble(const std::string& password, const std::string& nonce) {
  std::string first = sha256(password);
  std::string mask = sha256(sha256(first) + nonce);
  for (size_t i = 0; i < first.size(); ++i) first[i] ^= mask[i];
  return first;
}

// The password behind an RSA answer: decrypted and unmasked from nonce.
std::string decrypt(const std::string& answer, const std::string& nonce) {
  std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(
      EVP_PKEY_CTX_new(server.key, nullptr), EVP_PKEY_CTX_free);
  unsigned char plain[512];
  size_t length = sizeof plain;
  auto in = reinterpret_cast<const unsigned char*>(answer.data());
  if (EVP_PKEY_decrypt_init(ctx.get()) <= 0 ||
      EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_OAEP_PADDING) <= 0 ||
      EVP_PKEY_decrypt(ctx.get(), plain, &length, in, answer.size()) <= 0) {
    return "";
  }
  std::string password(reinterpret_cast<char*>(plain), length);
  for (size_t i = 0; i < length; ++i) password[i] ^= nonce[i % nonce.size()];
  return password;
}

std::string okPacket() { return std::string("\0\0\0", 3) + int2(2) + int2(0); }

std::string errorPacket(unsigned code, const std::string& message) {
  return "\xff" + int2(code) + "#" + (code == 1045 ? "28000" : "HY000") +
         message;
}

// One client, served by a thread of its own.
class Connection {
 public:
  Connection(int fd, bool local) : fd_(fd), local_(local) {}
  ~Connection() {
    if (ssl_ != nullptr) SSL_free(ssl_);
    close(fd_);
  }
  // Whether the link is TLS, or a Unix socket where that counts too.
  bool secure(bool socketCounts) const {
    return ssl_ != nullptr || (socketCounts && local_);
  }
  void restartSequence() { sequence_ = 0; }

  bool startTls() {
    ssl_ = SSL_new(server.tls);
    return ssl_ != nullptr && SSL_set_fd(ssl_, fd_) == 1 &&
           SSL_accept(ssl_) == 1;
  }

  bool read(std::string& payload) {
    std::string header;
    if (!readExactly(4, header)) return false;
    sequence_ = uint8_t(header[3]) + 1;
    return readExactly(
        uint8_t(header[0]) | uint8_t(header[1]) << 8 | uint8_t(header[2]) << 16,
        payload);
  }

  bool write(const std::string& payload) {
    const size_t n = payload.size();
    std::string packet =
        std::string{char(n), char(n >> 8), char(n >> 16), char(sequence_++)} +
        payload;
    for (size_t done = 0; done < packet.size();) {
      const int left = int(packet.size() - done);
      const long sent = ssl_ ? SSL_write(ssl_, packet.data() + done, left)
                             : ::write(fd_, packet.data() + done, left);
      if (sent <= 0) return false;
      done += size_t(sent);
    }
    return true;
  }

 private:
  bool readExactly(size_t n, std::string& bytes) {
    bytes.resize(n);
    for (size_t done = 0; done < n;) {
      const int left = int(n - done);
      const long got = ssl_ ? SSL_read(ssl_, &bytes[done], left)
                            : ::read(fd_, &bytes[done], left);
      if (got <= 0) return false;
      done += size_t(got);
    }
    std::lock_guard<std::mutex> lock(server.mutex);
    return ::write(server.record, bytes.data(), n) == long(n);
  }

  int fd_;
  bool local_;
  SSL* ssl_ = nullptr;
  uint8_t sequence_ = 0;
};

// The zero-terminated text at at, which moves past it.
std::string text(const std::string& p, size_t& at) {
  if (at >= p.size()) return "";
  const size_t end = std::min(p.find('\0', at), p.size());
  std::string s = p.substr(at, end - at);
  at = end + 1;
  return s;
}

// What a handshake response holds: user, first answer and its method.
struct Response {
  std::string user, answer, method;
};

Response parseResponse(const std::string& p) {
  Response r;
  const uint32_t caps = p.size() >= 4 ? uint8_t(p[0]) | uint8_t(p[1]) << 8 |
                                            uint8_t(p[2]) << 16 |
                                            uint32_t(uint8_t(p[3])) << 24
                                      : 0;
  size_t at = 32;
  r.user = text(p, at);
  const size_t length = at < p.size() ? uint8_t(p[at++]) : 0;  // < 251 here
  r.answer = at < p.size() ? p.substr(at, length) : "";
  at += length;
  if (caps & kConnectWithDb) text(p, at);
  if (caps & kPluginAuth) r.method = text(p, at);
  return r;
}

enum class Outcome { kOk, kDenied, kDropped };

// The password sent in clear over a secure link (TLS, and for
// caching_sha2_password a Unix socket too), else under the RSA key, which
// the client may first ask for.
Outcome fullAuthentication(Connection& c, const Account& a,
                           const std::string& nonce, char keyRequest,
                           std::string answer, std::string& steps) {
  const bool secure = c.secure(keyRequest == '\x02');
  if (!secure && answer == std::string(1, keyRequest)) {
    steps += " key-request";
    if (!c.write("\x01" + server.publicKeyPem) || !c.read(answer)) {
      return Outcome::kDropped;
    }
  }
  steps += secure ? " clear" : " rsa";
  const std::string given = secure ? answer : decrypt(answer, nonce);
  return given == a.password + kZero ? Outcome::kOk : Outcome::kDenied;
}

Outcome authenticate(Connection& c, const Account& a, const std::string& nonce,
                     std::string answer, std::string& steps) {
  const std::string method = a.method;
  const bool sha2 = method == "caching_sha2_password";
  if ((sha2 || method == "sha256_password") &&
      (answer.empty() || answer == kZero)) {
    steps += " empty";
    return *a.password == '\0' ? Outcome::kOk : Outcome::kDenied;
  }
  if (sha2) {
    bool cached;
    {
      std::lock_guard<std::mutex> lock(server.mutex);
      cached = server.warm || server.cached.count(a.user) != 0;
    }
    if (cached && answer == scramble(a.password, nonce)) {
      steps += " fast";
      return c.write("\x01\x03") ? Outcome::kOk : Outcome::kDropped;
    }
    steps += " full";
    if (!c.write("\x01\x04") || !c.read(answer)) return Outcome::kDropped;
    return fullAuthentication(c, a, nonce, '\x02', answer, steps);
  }
  if (method == "sha256_password") {
    return fullAuthentication(c, a, nonce, '\x01', answer, steps);
  }
  steps += " clear";  // mysql_clear_password and dialog; the others are named
  return answer == a.password + kZero ? Outcome::kOk : Outcome::kDenied;
}

bool logIn(Connection& c, const Response& response, const std::string& nonce) {
  const Account* account = nullptr;
  for (const Account& a : kAccounts) {
    if (response.user == a.user) account = &a;
  }
  if (account == nullptr) {
    c.write(errorPacket(1045, "Access denied for user '" + response.user +
                                  "'@'localhost' (using password: YES)"));
    return false;
  }
  std::string answer = response.answer, steps;
  Outcome outcome = Outcome::kDropped;
  // The dialog method (PAM) starts with its question: a password (4), the
  // last one (1).
  const std::string method = account->method;
  const std::string data =
      method == "dialog" ? "\x05Password: " : nonce + kZero;
  if (response.method == method ||
      (c.write("\xfe" + method + kZero + data) && c.read(answer))) {
    outcome = authenticate(c, *account, nonce, answer, steps);
  }
  const char* results[] = {"ok", "denied", "dropped"};
  say(std::string(account->user) + ":" + steps + " " + results[int(outcome)]);
  if (outcome == Outcome::kOk) {
    std::lock_guard<std::mutex> lock(server.mutex);
    if (std::string(account->method) == "caching_sha2_password") {
      server.cached.insert(account->user);
    }
  }
  if (outcome == Outcome::kDenied) {
    c.write(errorPacket(1045, "Access denied for user '" + response.user +
                                  "'@'localhost' (using password: YES)"));
  }
  return outcome == Outcome::kOk && c.write(okPacket());
}

// A column of a result: its name, type and flags (text, none: 0).
struct Column {
  std::string name;
  uint8_t type = 0xfd;
  uint16_t flags = 0;
};

// A result of columns, each row's fields in order.
bool sendRows(Connection& c, const std::vector<Column>& columns,
              const std::vector<std::vector<std::string>>& rows) {
  const std::string eof = "\xfe" + int2(0) + int2(2);
  bool ok = c.write(std::string(1, char(columns.size())));
  for (const Column& column : columns) {
    ok = ok && c.write(lenenc("def") + lenenc("") + lenenc("") + lenenc("") +
                       lenenc(column.name) + lenenc(column.name) + "\x0c" +
                       int2(33) + int4(255) + char(column.type) +
                       int2(column.flags) + kZero + int2(0));
  }
  ok = ok && c.write(eof);
  for (const auto& row : rows) {
    std::string fields;
    for (const std::string& field : row) fields += lenenc(field);
    ok = ok && c.write(fields);
  }
  return ok && c.write(eof);
}

// The data table: idx 1 to 5, groups of 2 and 3 rows, selectednum 1 and
// 2, each with a flag sum of 1 and 3 in every flag column.
struct Row {
  long idx;
  const char* selectednum;
  int flag;
};
const Row kRows[] = {
    {1, "1", 0}, {2, "1", 1}, {3, "2", 1}, {4, "2", 1}, {5, "2", 1}};

// The columns the one-pass plan's statement that reads no row names, with
// the types of a table split by its primary key idx: integers, flags of
// TINYINT.
bool describeColumns(Connection& c, const std::string& q) {
  std::vector<Column> columns;
  const size_t end = q.find(" from ");
  for (size_t at = 7; at < end;) {
    const size_t comma = std::min(q.find(", ", at), end);
    const std::string name = q.substr(at, comma - at);
    columns.push_back(
        {name,
         uint8_t(name == "idx" || name == "selectednum" ? 0x03    // LONG
                                                        : 0x01),  // TINY
         uint16_t(name == "idx" ? 0x03 : 0)});  // NOT NULL, key
    at = comma + 2;
  }
  return sendRows(c, columns, {});
}

// The groups of the rows with idx from low to high: selectednum, count(idx)
// and sums, as many as q asks for; unsorted unless asked, as MySQL 8 may
// return them.
bool sendGroups(Connection& c, const std::string& q, long low, long high) {
  size_t sums = 0;
  for (size_t at = q.find("sum("); at != std::string::npos;
       at = q.find("sum(", at + 1)) {
    ++sums;
  }
  std::vector<std::vector<std::string>> rows;
  for (const char* group : {"2", "1"}) {
    int count = 0, sum = 0;
    for (const Row& r : kRows) {
      if (r.idx < low || r.idx > high || std::string(group) != r.selectednum) {
        continue;
      }
      ++count;
      sum += r.flag;
    }
    if (count == 0) continue;
    rows.push_back({group, std::to_string(count)});
    rows.back().resize(2 + sums, std::to_string(sum));
  }
  if (q.find("order by selectednum asc") != std::string::npos) {
    std::reverse(rows.begin(), rows.end());
  }
  std::vector<Column> columns = {{"selectednum"}, {"count(idx)"}};
  columns.resize(2 + sums, {"sum"});
  return sendRows(c, columns, rows);
}

// Answers the session's SET, the statements of both plans, and those of a
// scan split by idx.
bool answer(Connection& c, const std::string& q) {
  if (q.rfind("SET ", 0) == 0) return c.write(okPacket());  // the session's
  if (q.rfind("select idx, selectednum", 0) == 0) return describeColumns(c, q);
  if (q.rfind("select (select engine from information_schema.", 0) == 0) {
    return sendRows(c, {{"engine"}, {"key"}}, {{"InnoDB", "1"}});
  }
  if (q.rfind("select min(idx), max(idx) from ", 0) == 0) {
    return sendRows(c, {{"min(idx)"}, {"max(idx)"}}, {{"1", "5"}});
  }
  if (q.rfind("select selectednum, count(idx)", 0) == 0) {
    const size_t where = q.find(" where idx >= ");
    if (where == std::string::npos) return sendGroups(c, q, 1, 5);
    const long low = std::atol(q.c_str() + where + 14);
    const size_t upper = q.find("and idx <", where);
    const bool included = q[upper + 9] == '=';
    const long high = std::atol(q.c_str() + upper + (included ? 11 : 10));
    return sendGroups(c, q, low, included ? high : high - 1);
  }
  if (q.rfind("select count(idx) from ", 0) == 0) {
    const bool sorted = q.find("order by selectednum asc") != std::string::npos;
    return sendRows(c, {{"count(idx)"}},
                    sorted
                        ? std::vector<std::vector<std::string>>{{"2"}, {"3"}}
                        : std::vector<std::vector<std::string>>{{"3"}, {"2"}});
  }
  if (q.rfind("select selectednum, sum(", 0) == 0) {
    return sendRows(c, {{"selectednum"}, {"sum"}}, {{"1", "1"}, {"2", "3"}});
  }
  if (q.rfind("select * from sums where increment=1", 0) == 0) {
    return sendRows(c,
                    {{"increment"},
                     {"name"},
                     {"outputfield"},
                     {"red"},
                     {"green"},
                     {"blue"},
                     {"symbol"}},
                    {});
  }
  return c.write(errorPacket(1064, "the stand-in has no answer to: " + q));
}

void serveCommands(Connection& c) {
  long seen = server.statements;
  for (std::string p; c.read(p) && !p.empty();) {
    if (server.closeIdleAfter > 0 &&
        server.statements - seen >= server.closeIdleAfter) {
      say("idle-close");    // before the client can log in again
      c.restartSequence();  // sent unasked, when the wait ran out
      c.write(
          errorPacket(4031,
                      "The client was disconnected by the server because "
                      "of inactivity. See wait_timeout and "
                      "interactive_timeout for configuring this behavior."));
      return;
    }
    if (p[0] == 0x01) return;  // COM_QUIT
    if (p[0] != 0x03) {        // COM_PING, COM_INIT_DB, ...
      c.write(okPacket());
      continue;
    }
    if (!answer(c, p.substr(1))) return;
    seen = ++server.statements;
  }
}

void serve(int fd, bool local) {
  Connection c(fd, local);
  std::string nonce(20, 'a'), p;
  RAND_bytes(reinterpret_cast<unsigned char*>(&nonce[0]), 20);
  for (char& ch : nonce) ch = char('A' + uint8_t(ch) % 26);
  const uint32_t caps = kCapabilities | (server.tls ? kClientSsl : 0);
  const std::string greeting =
      "\x0a" + std::string("8.0.36") + kZero + int4(1) + nonce.substr(0, 8) +
      kZero + int2(caps) + "\xff" + int2(2) + int2(caps >> 16) + char(21) +
      std::string(10, '\0') + nonce.substr(8) + kZero + server.greeting + kZero;
  if (!c.write(greeting) || !c.read(p)) return;
  if (p.size() == 32 && (uint8_t(p[1]) & (kClientSsl >> 8)) && server.tls &&
      (!c.startTls() || !c.read(p))) {
    return;
  }
  if (logIn(c, parseResponse(p), nonce)) serveCommands(c);
}

bool readOptions(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool more = i + 1 < argc;
    if (arg == "--warm") {
      server.warm = true;
    } else if (arg == "--greeting" && more) {
      server.greeting = argv[++i];
    } else if (arg == "--close-idle-after" && more) {
      server.closeIdleAfter = std::atol(argv[++i]);
    } else if (arg == "--record" && more) {
      server.record = ::open(argv[++i], O_WRONLY | O_CREAT | O_TRUNC, 0600);
    } else if (arg == "--tls" && i + 2 < argc) {
      server.tls = SSL_CTX_new(TLS_server_method());
      if (SSL_CTX_use_certificate_file(server.tls, argv[i + 1],
                                       SSL_FILETYPE_PEM) != 1 ||
          SSL_CTX_use_PrivateKey_file(server.tls, argv[i + 2],
                                      SSL_FILETYPE_PEM) != 1) {
        return false;
      }
      i += 2;
    } else if (arg == "--rsa-key" && more) {
      FILE* file = std::fopen(argv[++i], "r");
      server.key =
          file ? PEM_read_PrivateKey(file, nullptr, nullptr, nullptr) : nullptr;
      if (file != nullptr) std::fclose(file);
      BIO* pem = BIO_new(BIO_s_mem());
      char* bytes = nullptr;
      if (server.key == nullptr || PEM_write_bio_PUBKEY(pem, server.key) != 1) {
        return false;
      }
      const long length = BIO_get_mem_data(pem, &bytes);
      server.publicKeyPem.assign(bytes, size_t(length));
      BIO_free(pem);
    } else {
      return false;
    }
  }
  return server.record >= 0 && server.key != nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  if (!readOptions(argc, argv)) {
    std::fprintf(stderr,
                 "usage: mysql8_standin --record FILE --rsa-key PEM "
                 "[--tls CERT KEY] [--warm] [--greeting METHOD] "
                 "[--close-idle-after N]\n");
    return 2;
  }
  std::signal(SIGPIPE, SIG_IGN);  // a client gone while it is answered
  std::vector<std::thread> clients;
  pollfd fds[3] = {{STDIN_FILENO, POLLIN, 0}, {3, POLLIN, 0}, {4, POLLIN, 0}};
  if (fcntl(4, F_GETFD) == -1) fds[2].fd = -1;
  for (;;) {
    if (poll(fds, 3, -1) < 0) continue;
    char byte;
    if (fds[0].revents != 0 && read(STDIN_FILENO, &byte, 1) <= 0) break;
    for (int i = 1; i < 3; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const int client = accept4(fds[i].fd, nullptr, nullptr, SOCK_CLOEXEC);
      if (client >= 0) clients.emplace_back(serve, client, i == 2);
    }
  }
  for (std::thread& client : clients) client.join();
  return 0;
}
