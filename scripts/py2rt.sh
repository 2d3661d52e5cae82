#!/usr/bin/env bash
# Builds the real Python 2 runtime that the dedicated-server tests embed, into
# the build tree (never committed, never shipped): dice_py.dll for hostsim's
# server copy under Wine (scripts/py2rt-dll.sh), and the same sources built
# natively for the unit tier.  Idempotent: a runtime already built returns at
# once.  Under a minute on two idle cores the first time, several on busy ones
# (fetching Debian's python2.7 source package and compiling it twice).
set -euo pipefail
cd "$(dirname "$0")/.."
start=$(date +%s)
bash scripts/py2rt-dll.sh build/py2rt
echo "py2rt: Windows runtime ready ($(( $(date +%s) - start )) s)"

# The same runtime built natively, for the native tests that run the script
# module inside a real interpreter on machines without Wine.  From the source
# tarball that py2rt-dll.sh fetched and checked; no interpreter files are
# needed (the tests start it without its library).
native=build/py2rt-native
if [ ! -s "$native/libpython2.7.a" ]; then
  start=$(date +%s)
  work=$(mktemp -d /tmp/ostrel-py2rt-native.XXXXXX)
  tar -xzf build/py2rt/srcpkg/python2.7_2.7.18.orig.tar.gz -C "$work"
  if ! (cd "$work/Python-2.7.18" &&
        ./configure -q --without-pymalloc --disable-shared --without-ensurepip CFLAGS="-O1 -fPIC" &&
        make -j"$(nproc)" libpython2.7.a) >"$work/build.log" 2>&1; then
    tail -n 30 "$work/build.log" >&2
    echo "py2rt: native runtime build failed" >&2
    exit 1
  fi
  mkdir -p "$native"
  cp "$work/Python-2.7.18/libpython2.7.a" "$native/libpython2.7.a.tmp"
  mv "$native/libpython2.7.a.tmp" "$native/libpython2.7.a"
  rm -rf "$work"
  echo "py2rt: native runtime ready ($(( $(date +%s) - start )) s)"
fi
