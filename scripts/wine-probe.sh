#!/usr/bin/env bash
# Exits 0 when Wine can run 32-bit Windows programs on this machine, 1 otherwise
# (say, a virtual machine without 32-bit x86 support, where the kernel refuses
# Wine's own 32-bit loader with "Exec format error"). Quiet unless -v.
if wine --version >/dev/null 2>&1; then exit 0; fi
[ "${1:-}" = "-v" ] && echo "Wine cannot run 32-bit programs on this machine ($(uname -r))" >&2
exit 1
