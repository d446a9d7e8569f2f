#!/usr/bin/env bash
# Makes the certificates of the TLS tests with openssl, fresh on every run:
#
#   tls_certificates.sh DIR
#
# DIR/ca.pem signs DIR/server-cert.pem (for localhost and 127.0.0.1, key
# DIR/server-key.pem) and DIR/client-cert.pem (key DIR/client-key.pem);
# DIR/other-ca.pem is an unrelated CA that signs neither;
# DIR/server-public-key.pem is the public half of DIR/server-key.pem, the
# RSA key a MySQL 8 server encrypts passwords with.
set -euo pipefail

[[ $# -eq 1 && -n "$1" ]] || {
  echo "usage: tls_certificates.sh DIR" >&2
  exit 2
}
dir=$1
mkdir -p "$dir"
cd "$dir"

# A self-signed CA: NAME.pem and NAME-key.pem.
make_ca() {
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=$2" \
    -keyout "$1-key.pem" -out "$1.pem" 2>/dev/null
}

# A certificate NAME-cert.pem (key NAME-key.pem) signed by ca.pem.
make_signed() {
  local name=$1 subject=$2 extensions=$3
  openssl req -newkey rsa:2048 -nodes -subj "/CN=$subject" \
    -keyout "$name-key.pem" -out "$name.csr" 2>/dev/null
  printf '%s\n' "$extensions" >"$name.ext"
  openssl x509 -req -in "$name.csr" -CA ca.pem -CAkey ca-key.pem \
    -CAcreateserial -days 2 -extfile "$name.ext" -out "$name-cert.pem" 2>/dev/null
}

make_ca ca "tallyplot test CA"
make_ca other-ca "unrelated test CA"
make_signed server localhost "subjectAltName=DNS:localhost,IP:127.0.0.1"
make_signed client tallyplot-client "extendedKeyUsage=clientAuth"
openssl pkey -in server-key.pem -pubout -out server-public-key.pem
echo "certificates in $dir"
