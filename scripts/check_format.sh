#!/usr/bin/env bash
# Fails, naming each file, when clang-format would change a tracked C or C++ file. The layout
# depends on clang-format's version, so one version is used here and installed by
# scripts/bootstrap.sh; `scripts/check_format.sh --fix` rewrites the files instead.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
clang_format_version=14
clang_format=clang-format-$clang_format_version

if ! command -v "$clang_format" >/dev/null; then
  echo "check_format: $clang_format not found (scripts/bootstrap.sh installs it)" >&2
  exit 2
fi
mapfile -t files < <(git ls-files '*.c' '*.cpp' '*.h')
[ ${#files[@]} -gt 0 ] || { echo "check_format: no C or C++ files tracked" >&2; exit 2; }

if [ "${1:-}" = "--fix" ]; then
  "$clang_format" -i --style=file "${files[@]}"
  exit 0
fi
if ! "$clang_format" --dry-run --Werror --style=file "${files[@]}"; then
  echo "check_format: the files above differ from .clang-format's layout" \
       "(scripts/check_format.sh --fix rewrites them)" >&2
  exit 1
fi
echo "check_format: ${#files[@]} files as .clang-format lays them out"
