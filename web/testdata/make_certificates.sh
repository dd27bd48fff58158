#!/usr/bin/env bash
# Makes the test certificates of the web tests (valid for 100 years):
#   ca.pem               a test certificate authority
#   server.pem/.key      for 127.0.0.1 and localhost, signed by ca.pem
#   wrong-name.pem/.key  for wrong-name.test only, signed by ca.pem
#   other-ca.pem         an unrelated authority that signed none of them
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

authority() {  # name, subject
  openssl req -x509 -newkey rsa:2048 -nodes -days 36500 -subj "/CN=$2" \
    -keyout "$work/$1.key" -out "$1.pem" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
}
leaf() {  # name, subject, subjectAltName
  openssl req -newkey rsa:2048 -nodes -subj "/CN=$2" -keyout "$1.key" -out "$work/$1.csr" 2>/dev/null
  printf 'subjectAltName=%s\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' "$3" >"$work/$1.ext"
  openssl x509 -req -in "$work/$1.csr" -CA ca.pem -CAkey "$work/ca.key" -CAcreateserial \
    -days 36500 -extfile "$work/$1.ext" -out "$1.pem" 2>/dev/null
}
authority ca "Telvoro Test CA"
authority other-ca "Unrelated Test CA"
leaf server "127.0.0.1" "IP:127.0.0.1,DNS:localhost"
leaf wrong-name "wrong-name.test" "DNS:wrong-name.test"
rm -f ca.srl
