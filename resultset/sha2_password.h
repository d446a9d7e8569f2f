// The client's arithmetic of MySQL's SHA-256 password methods
// (caching_sha2_password, sha256_password), done with OpenSSL's libcrypto:
// the fast path's scramble, and the password encrypted under the server's
// RSA public key.
#ifndef TALLYPLOT_RESULTSET_SHA2_PASSWORD_H_
#define TALLYPLOT_RESULTSET_SHA2_PASSWORD_H_

#include <cstddef>
#include <string>

// The length of the nonce the server sends with either method.
constexpr size_t kNonceLength = 20;

// caching_sha2_password's answer to nonce: SHA-256(password) XOR
// SHA-256(SHA-256(SHA-256(password)) nonce). Like mysql_native_password's
// answer, it proves the password without showing it.
std::string sha2Scramble(const char* password, const std::string& nonce);

// The password with its terminating zero, XORed with nonce and encrypted
// with RSA-OAEP under the PEM public key in keyFile, as both methods send
// it over an insecure link: only the key's owner can read it. False, with
// the reason in error, when keyFile holds no public key or the password is
// too long for it.
bool encryptPassword(const char* password, const std::string& nonce,
                     const std::string& keyFile, std::string& encrypted,
                     std::string& error);

#endif  // TALLYPLOT_RESULTSET_SHA2_PASSWORD_H_
