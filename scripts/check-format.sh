#!/usr/bin/env bash
# Fails when a C++ file of the tree is not formatted by its .clang-format (prints what would
# change). Build folders and anything git ignores are left out. Usage: scripts/check-format.sh
set -euo pipefail
cd "$(dirname "$0")/.."

clang_format=${CLANG_FORMAT:-clang-format}
mapfile -t files < <(git ls-files --cached --others --exclude-standard -- \
  '*.h' '*.hpp' '*.cpp' '*.cc' | grep -v '^build' || true)
[ ${#files[@]} -eq 0 ] && exit 0
existing=()
for f in "${files[@]}"; do [ -f "$f" ] && existing+=("$f"); done

if "$clang_format" --dry-run --Werror --style=file "${existing[@]}"; then
  echo "check-format: ${#existing[@]} files formatted"
else
  echo "check-format: files above differ from .clang-format (run: clang-format -i FILE...)" >&2
  exit 1
fi
