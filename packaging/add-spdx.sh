#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Puts "SPDX-License-Identifier: MIT" at the top of every tracked source file
# that lacks one (after a #! line), in the file's own comment form. Data files
# (ABI baselines, golden outputs, case files, fuzz corpora, expected fault
# reports, Debian control files) are left alone. Run from anywhere in the
# checkout; it prints the files it changed.
set -euo pipefail
cd "$(git rev-parse --show-toplevel)"
git ls-files -z -- '*.c' '*.cpp' '*.h' '*.cmake' '*.cmake.in' '*.pc.in' '*.map' '*.sh' '*.1' \
    'CMakeLists.txt' '*/CMakeLists.txt' '.ci/run' 'build.sh' |
    while IFS= read -r -d '' file; do
        head -n 3 "$file" | grep -q 'SPDX-License-Identifier:' && continue
        case "$file" in
        *.c | *.cpp | *.h) line='// SPDX-License-Identifier: MIT' ;;
        *.map) line='/* SPDX-License-Identifier: MIT */' ;;
        *.1) line='.\\" SPDX-License-Identifier: MIT' ;;
        *) line='# SPDX-License-Identifier: MIT' ;;
        esac
        # After a #! line, or a manual page's preprocessor line.
        if head -n 1 "$file" | grep -q "^#!\|^'\\\\\""; then
            sed -i "1a $line" "$file"
        else
            sed -i "1i $line" "$file"
        fi
        echo "$file"
    done
