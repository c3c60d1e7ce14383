#!/usr/bin/env bash
# Fails when a C++ file of the project differs from .clang-format.
#   check_format.sh PROJECT_SOURCE_DIR [CLANG_FORMAT]
set -euo pipefail
cd "$1"
clang_format=${2:-clang-format}
git_files=()
while IFS= read -r -d '' file; do
    git_files+=("$file")
done < <(find src tests bench fuzz -type f \( -name '*.h' -o -name '*.cpp' \) -print0 | sort -z)
"$clang_format" --dry-run -Werror "${git_files[@]}"
echo "format: ${#git_files[@]} files match .clang-format"
