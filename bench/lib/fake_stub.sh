#!/usr/bin/env bash
# Writes a stand-in for the stub to FILE: the extractor never runs it, but
# trelk-pack takes only a Windows program (an MZ header pointing to a PE
# signature). 64 KiB.
set -euo pipefail
{ printf 'MZ\220\000'; head -c 56 /dev/zero; printf '\200\000\000\000'; head -c 64 /dev/zero
  printf 'PE\000\000'; head -c $((65536 - 132)) /dev/zero; } >"${1:?usage: fake_stub.sh FILE}"
