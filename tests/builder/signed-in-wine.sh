#!/bin/sh
# Signing as a vendor does it: the demo installer built with both setup
# programs and signed by setrunc build --sign with osslsigncode and a
# throwaway certificate. Each passes setrunc verify and osslsigncode verify,
# inspect names its signer, a changed byte and an appended tail are caught,
# and it installs under Wine.
#   signed-in-wine.sh SETRUNC STUB-X86 STUB-X64 SOURCE-DIR
# SETRUN_WINEPREFIX names the Wine prefix (see tests/wine/run-in-wine.sh).
set -eu
setrunc=$1 stub86=$2 stub64=$3 root=$4
work=$(mktemp -d "${TMPDIR:-/tmp}/setrun-signed.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "$*" >&2; exit 1; }

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Setrun Test Signer/O=Setrun Tests" \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>"$work/openssl.log" || { cat "$work/openssl.log" >&2; exit 1; }
sign="osslsigncode sign -certs '$work/cert.pem' -key '$work/key.pem' -n 'Setrun Demo' -in {in} -out {out}"

# The demo, silent, into a folder of this run.
cp -r "$root/examples/demo/." "$work/"
if ! grep -q '"silent"' "$work/project.toml"; then
  sed 's/^compression = 9$/compression = 9\n\n[layout]\nflags = ["silent"]/' "$root/examples/demo/project.toml" >"$work/project.toml"
fi
run="$root/tests/wine/run-in-wine.sh"
prefix=${SETRUN_WINEPREFIX:-${TMPDIR:-/tmp}/setrun-wine-$(id -u)}

for arch in x86 x64; do
  stub=$stub86
  [ "$arch" = x64 ] && stub=$stub64
  # The demo's program and component for the setup program's processor.
  gcc=x86_64-w64-mingw32-gcc
  [ "$arch" = x86 ] && gcc=i686-w64-mingw32-gcc
  $gcc -Os -s -o "$work/hello.exe" "$root/examples/demo/hello.c"
  $gcc -Os -s -shared -Wl,--kill-at -o "$work/greeting.dll" "$root/examples/demo/greeting.c"
  folder="Setrun Signed $arch $$"
  sed -i "s/^folder = .*/folder = \"C:\\\\\\\\$folder\"/" "$work/project.toml"
  setup="$work/signed-$arch.exe"
  "$setrunc" build "$work/project.toml" -o "$setup" --stub "$stub" -D HELLO="$work/hello.exe" \
    -D GREETING="$work/greeting.dll" -q --sign "$sign" \
    2>"$work/sign.log" || { cat "$work/sign.log" >&2; fail "$arch: the signed build failed"; }

  "$setrunc" verify "$setup" >"$work/verify.out" 2>&1 || { cat "$work/verify.out" >&2; fail "$arch: verify refused it"; }
  grep -q "signature: Authenticode signature, .* signed by O=Setrun Tests,CN=Setrun Test Signer, digest SHA256; it signs this file" \
    "$work/verify.out" || { cat "$work/verify.out" >&2; fail "$arch: verify does not name the signature"; }
  osslsigncode verify -CAfile "$work/cert.pem" "$setup" >"$work/ossl.out" 2>&1 ||
    { cat "$work/ossl.out" >&2; fail "$arch: osslsigncode verify refused it"; }
  "$setrunc" inspect --json "$setup" >"$work/inspect.json"
  python3 - "$work/inspect.json" "$setup" <<'PY' || fail "$arch: inspect --json does not name the signature"
import json, os, sys
d = json.load(open(sys.argv[1]))
s = d["signature"]
assert s["signer"] == "O=Setrun Tests,CN=Setrun Test Signer", s
assert s["digest"] == "SHA256" and s["problem"] is None, s
assert s["offset"] + s["size"] == os.path.getsize(sys.argv[2]), s
assert s["offset"] >= d["data"]["offset"] + d["data"]["length"], (s, d["data"])
PY

  # One changed byte of the file data: verify says the file is not what was signed.
  cp "$setup" "$work/changed.exe"
  at=$(python3 -c 'import json,sys; d=json.load(open(sys.argv[1]))["data"]; print(d["offset"] + d["length"] - 3)' "$work/inspect.json")
  printf 'X' | dd of="$work/changed.exe" bs=1 seek="$at" conv=notrunc 2>/dev/null
  if "$setrunc" verify "$work/changed.exe" >"$work/changed.out" 2>&1; then fail "$arch: a changed byte went unnoticed"; fi
  grep -q "signature: the file was changed after it was signed" "$work/changed.out" ||
    { cat "$work/changed.out" >&2; fail "$arch: verify does not say the signature no longer holds"; }

  # Bytes appended behind the signature are not signed: verify says so.
  { cat "$setup"; printf 'unsigned tail'; } >"$work/appended.exe"
  if "$setrunc" verify "$work/appended.exe" >"$work/appended.out" 2>&1; then fail "$arch: an unsigned tail went unnoticed"; fi
  grep -q "signature: 13 bytes follow the certificate table; the signature does not cover them" "$work/appended.out" ||
    { cat "$work/appended.out" >&2; fail "$arch: verify does not name the unsigned tail"; }

  "$run" "$setup" >"$work/setup.out" 2>&1 || { cat "$work/setup.out" >&2; fail "$arch: the signed installer failed ($?)"; }
  for f in hello.exe readme.txt licence.txt docs/manual/getting-started.txt; do
    cmp "$prefix/drive_c/$folder/$f" "$work/$f" || fail "$arch: $f was not installed as packaged"
  done
  rm -rf "$prefix/drive_c/$folder"
done
echo "signed installers of both setup programs verify and install under Wine"
