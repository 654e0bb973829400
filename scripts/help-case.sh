#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Rewrites the first case of tests/cases/cli.txt (what --help prints) from a
# built tool, after the usage text changed on purpose:
#   scripts/help-case.sh build/default/src/cli/cparameters
set -euo pipefail
cd "$(dirname "$0")/.."
text=$("$1" --help | python3 -c 'import sys; d=sys.stdin.buffer.read(); print("".join(chr(b) if 0x20<=b<0x7f and b!=0x25 else "%%%02X"%b for b in d), end="")')
python3 - "$text" <<'PY'
import sys
path = "tests/cases/cli.txt"
lines = open(path).read().split("\n")
for i, line in enumerate(lines):
    if line.startswith("-\t--help\t"):
        f = line.split("\t")
        f[4] = sys.argv[1]
        lines[i] = "\t".join(f)
        break
open(path, "w").write("\n".join(lines))
PY
