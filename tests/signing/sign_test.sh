#!/usr/bin/env bash
# Signs a copy of the one-file installer with a throwaway CA's code-signing certificate,
# verifies it, then flips one byte inside its embedded archive and expects the verifier
# to refuse it. Writes only in a temp folder and the two copies it exports to <bin>.
#   sign_test.sh <kelvane-sample-onefile.exe> <bin folder>     (exit 77: tools missing)
set -euo pipefail
installer=$(realpath "$1") bin=$(realpath "$2")
for tool in openssl osslsigncode; do
  command -v $tool >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() { cat "$1"; echo "FAIL: $2"; exit 1; }

# A CA, and a code-signing leaf it issues, valid from now: no timestamp needed, and the
# leaf names no CRL distribution point, so verifying fetches nothing.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=kelvane test CA" -keyout ca.key -out ca.pem \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
openssl req -newkey rsa:2048 -nodes -subj "/CN=kelvane test signer" -keyout signer.key -out signer.csr 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >leaf.ext
openssl x509 -req -days 2 -in signer.csr -CA ca.pem -CAkey ca.key -set_serial 2 -extfile leaf.ext -out signer.pem 2>/dev/null

osslsigncode sign -h sha256 -certs signer.pem -key signer.key -in "$installer" -out signed.exe >sign.log
osslsigncode verify -CAfile ca.pem -in signed.exe >verify.log 2>&1 || fail verify.log "the signed installer does not verify"
grep -qi "digest algorithm *: *sha256" verify.log || fail verify.log "the signature's digest is not SHA-256"

# The archive is the one "KVPA" whose header holds up (engine/core/archive.h);
# damage the byte halfway through it.
python3 - signed.exe damaged.exe <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], 'rb').read())
found, at = [], data.find(b'KVPA')
while at >= 0:
    if at + 24 <= len(data):
        version, flags, count, size, reserved = struct.unpack_from('<HHIQI', data, at + 4)
        if version in (1, 2) and (flags, reserved) == (0, 0) and 1 <= count <= 4096 and 24 < size <= len(data) - at:
            found.append((at, size))
    at = data.find(b'KVPA', at + 1)
if len(found) != 1:
    sys.exit(f'FAIL: expected one embedded archive, found {len(found)}')
at, size = found[0]
data[at + size // 2] ^= 0x5A
open(sys.argv[2], 'wb').write(data)
print(f'archive of {size} bytes at {at}; flipped the byte at {at + size // 2}')
PY
osslsigncode verify -CAfile ca.pem -in damaged.exe >damaged.log 2>&1 && fail damaged.log "the damaged installer verifies"
grep -q MISMATCH damaged.log || fail damaged.log "refused, but not for its digest"

cp signed.exe "$bin/kelvane-sample-onefile-signed.exe"
cp damaged.exe "$bin/kelvane-sample-onefile-damaged.exe"
echo "PASS: the signed installer verifies; one flipped archive byte breaks its signature"
