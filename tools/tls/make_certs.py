#!/usr/bin/env python3
"""Throwaway certificates for the demo and the tests (never for real use).

    make_certs.py DIR

Writes into DIR, as PEM: ca.pem (a certificate authority) and, each with its .key,
  server.pem   for 127.0.0.1, ::1 and localhost, signed by the authority
  server2.pem  the same names, another key: a certificate that "changed"
  other.pem    for other.invalid only: a name that does not match
  expired.pem  for 127.0.0.1, signed by the authority, expired yesterday
Keys are P-256 (quick to make)."""

import datetime
import ipaddress
import os
import sys

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec
from cryptography.x509.oid import NameOID


def _key():
    return ec.generate_private_key(ec.SECP256R1())


def _write(folder, name, cert, key):
    with open(os.path.join(folder, name + ".pem"), "wb") as f:
        f.write(cert.public_bytes(serialization.Encoding.PEM))
    if key is not None:
        path = os.path.join(folder, name + ".key")
        with open(os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600), "wb") as f:
            f.write(key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                                      serialization.NoEncryption()))


def _name(common):
    return x509.Name([x509.NameAttribute(NameOID.ORGANIZATION_NAME, "Zarvel test"),
                      x509.NameAttribute(NameOID.COMMON_NAME, common)])


def _alt_name(n):
    try:
        return x509.IPAddress(ipaddress.ip_address(n))
    except ValueError:
        return x509.DNSName(n)


def _leaf(ca_cert, ca_key, common, names, not_before, not_after):
    key = _key()
    alt = [_alt_name(n) for n in names]
    cert = (x509.CertificateBuilder()
            .subject_name(_name(common)).issuer_name(ca_cert.subject)
            .public_key(key.public_key()).serial_number(x509.random_serial_number())
            .not_valid_before(not_before).not_valid_after(not_after)
            .add_extension(x509.SubjectAlternativeName(alt), critical=False)
            .add_extension(x509.BasicConstraints(ca=False, path_length=None), critical=True)
            .sign(ca_key, hashes.SHA256()))
    return cert, key


def main(folder):
    os.makedirs(folder, exist_ok=True)
    now = datetime.datetime.now(datetime.timezone.utc)
    day = datetime.timedelta(days=1)
    ca_key = _key()
    ca_cert = (x509.CertificateBuilder()
               .subject_name(_name("Zarvel throwaway authority")).issuer_name(_name("Zarvel throwaway authority"))
               .public_key(ca_key.public_key()).serial_number(x509.random_serial_number())
               .not_valid_before(now - day).not_valid_after(now + 30 * day)
               .add_extension(x509.BasicConstraints(ca=True, path_length=0), critical=True)
               .add_extension(x509.KeyUsage(digital_signature=True, key_cert_sign=True, crl_sign=True,
                                            content_commitment=False, key_encipherment=False,
                                            data_encipherment=False, key_agreement=False,
                                            encipher_only=False, decipher_only=False), critical=True)
               .sign(ca_key, hashes.SHA256()))
    _write(folder, "ca", ca_cert, None)
    local = ["127.0.0.1", "::1", "localhost"]
    _write(folder, "server", *_leaf(ca_cert, ca_key, "127.0.0.1", local, now - day, now + 30 * day))
    _write(folder, "server2", *_leaf(ca_cert, ca_key, "127.0.0.1", local, now - day, now + 30 * day))
    _write(folder, "other", *_leaf(ca_cert, ca_key, "other.invalid", ["other.invalid"], now - day, now + 30 * day))
    _write(folder, "expired", *_leaf(ca_cert, ca_key, "127.0.0.1", local, now - 30 * day, now - day))
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1]))
