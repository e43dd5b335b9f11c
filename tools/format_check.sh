#!/bin/bash
# Fails when product code differs from the house format (.clang-format);
# names each file that does. `--fix` formats them instead.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
folders="base control format launcher publish record ui update zip bench"
mapfile -t files < <(git ls-files $folders 2>/dev/null | grep -E '\.(c|cpp|h)$' ||
                     find $folders -name '*.c' -o -name '*.cpp' -o -name '*.h')
if [ "${1:-}" = "--fix" ]; then
  clang-format-14 -i "${files[@]}"
  exit 0
fi
bad=0
for f in "${files[@]}"; do
  if ! clang-format-14 --dry-run --Werror "$f" >/dev/null 2>&1; then
    echo "not in the house format: $f (tools/format_check.sh --fix)"
    bad=1
  fi
done
exit $bad
