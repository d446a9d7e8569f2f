#include "sha2_password.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

std::string sha256(const std::string& data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha256(),
                 nullptr) != 1) {
    return "";
  }
  std::string result(reinterpret_cast<char*>(digest), length);
  OPENSSL_cleanse(digest, sizeof digest);
  return result;
}

// A string whose bytes are wiped when it goes: it holds the password.
struct Secret {
  std::string bytes;
  ~Secret() { OPENSSL_cleanse(&bytes[0], bytes.size()); }
};

// The public key in the PEM file at path, or null with the reason in error.
EVP_PKEY* readPublicKey(const std::string& path, std::string& error) {
  FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) {
    error = "cannot read the server's public key " + path + ": " +
            std::strerror(errno);
    return nullptr;
  }
  EVP_PKEY* key = PEM_read_PUBKEY(file, nullptr, nullptr, nullptr);
  std::fclose(file);
  if (key == nullptr) error = path + " holds no PEM public key of the server";
  return key;
}

}  // namespace

std::string sha2Scramble(const char* password, const std::string& nonce) {
  Secret plain{password};
  Secret first{sha256(plain.bytes)};
  std::string answer = sha256(sha256(first.bytes) + nonce);
  for (size_t i = 0; i < answer.size() && i < first.bytes.size(); ++i) {
    answer[i] ^= first.bytes[i];
  }
  return answer;
}

bool encryptPassword(const char* password, const std::string& nonce,
                     const std::string& keyFile, std::string& encrypted,
                     std::string& error) {
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
      readPublicKey(keyFile, error), EVP_PKEY_free);
  if (!key) return false;
  Secret masked{std::string(password, std::strlen(password) + 1)};
  for (size_t i = 0; i < masked.bytes.size(); ++i) {
    masked.bytes[i] ^= nonce[i % nonce.size()];
  }
  std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> context(
      EVP_PKEY_CTX_new(key.get(), nullptr), EVP_PKEY_CTX_free);
  const auto* in = reinterpret_cast<const unsigned char*>(masked.bytes.data());
  size_t length = 0;
  if (!context || EVP_PKEY_encrypt_init(context.get()) <= 0 ||
      EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_OAEP_PADDING) <=
          0 ||
      EVP_PKEY_encrypt(context.get(), nullptr, &length, in,
                       masked.bytes.size()) <= 0) {
    error = keyFile + " holds no RSA public key";
    return false;
  }
  encrypted.resize(length);
  if (EVP_PKEY_encrypt(context.get(),
                       reinterpret_cast<unsigned char*>(&encrypted[0]), &length,
                       in, masked.bytes.size()) <= 0) {
    error = "the password is too long for the server's public key " + keyFile;
    return false;
  }
  encrypted.resize(length);
  return true;
}
