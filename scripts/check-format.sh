#!/usr/bin/env bash
# Checks every C++ source and header of the repository against .clang-format;
# prints the files that differ and fails when there is one.
#   scripts/check-format.sh
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if clang-format --dry-run --Werror "${files[@]}"; then
    echo "format: ${#files[@]} files as .clang-format wants them"
else
    echo "format: the files above differ from .clang-format (clang-format -i fixes them)" >&2
    exit 1
fi
