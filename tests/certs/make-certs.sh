#!/bin/sh
# Makes the certificates the tests use: a test authority and a server certificate it signed, and a
# second, untrusted authority with its own certificate for the same names. Valid for about 100
# years, so they need no renewal. Re-run only to replace them; the tests use the committed files.
set -eu
cd "$(dirname "$0")"

days=36500
names="DNS:account.ostrel.example,DNS:support.ostrel.example,IP:127.0.0.1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

make_authority() # key, certificate, common name
{
    openssl ecparam -name prime256v1 -genkey -noout -out "$1"
    openssl req -x509 -new -key "$1" -sha256 -days "$days" -subj "/CN=$3" \
        -addext "basicConstraints=critical,CA:TRUE" \
        -addext "keyUsage=critical,keyCertSign,cRLSign" \
        -addext "subjectKeyIdentifier=hash" \
        -out "$2"
}

make_server() # key, certificate, authority key, authority certificate
{
    openssl ecparam -name prime256v1 -genkey -noout -out "$1"
    openssl req -new -key "$1" -subj "/CN=account.ostrel.example" -out "$work/server.csr"
    cat > "$work/server.ext" <<EXT
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature,keyEncipherment
extendedKeyUsage=serverAuth
subjectAltName=$names
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid
EXT
    openssl x509 -req -in "$work/server.csr" -CA "$4" -CAkey "$3" -CAcreateserial \
        -CAserial "$work/serial" -sha256 -days "$days" -extfile "$work/server.ext" -out "$2"
}

make_authority ca.key ca.pem "Zembrik Authorizer Test Authority"
make_server server.key server.pem ca.key ca.pem

# The untrusted pair: the same names, signed by an authority no test trusts.
make_authority "$work/untrusted-ca.key" "$work/untrusted-ca.pem" "Untrusted Test Authority"
make_server untrusted-server.key untrusted-server.pem "$work/untrusted-ca.key" "$work/untrusted-ca.pem"
