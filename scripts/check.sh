#!/usr/bin/env bash
# Static checks: formatting, clang-tidy and cppcheck on the tools' own code.
# Needs the compile commands of the default build (cmake --preset default).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh clang-format clang-tidy cppcheck
[ -f build/default/compile_commands.json ] || cmake --preset default >/dev/null

echo "clang-format: every C++ file as .clang-format has it"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

echo "clang-tidy: shell, files, formats, split, weld, prep"
if ! git ls-files 'shell/*.cpp' 'files/*.cpp' 'formats/*.cpp' 'split/*.cpp' 'weld/*.cpp' 'prep/*.cpp' |
  xargs /usr/bin/python3 scripts/tidy-cached.py build/default; then
  grep -E -A3 'error:|warning:' build/clang-tidy.log
  echo "clang-tidy found problems" >&2
  exit 1
fi

echo "cppcheck: shell, files, formats, split, weld, prep"
# useStlAlgorithm: the byte loops stop at the first byte that fails; a plain
# loop says so more plainly than any_of with a side effect.
cppcheck --enable=warning,style,performance,portability --error-exitcode=1 --inline-suppr \
  --std=c++20 --quiet --suppress=useStlAlgorithm -I . shell files formats split weld prep
echo "static checks passed"
