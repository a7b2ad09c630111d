#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Puts the licence's SPDX line at the top of every source file that lacks it:
# "// SPDX-License-Identifier: GPL-3.0-or-later" in C and C++ files, the same
# after "#" in CMake, Python and shell files (below a "#!" line). Running it
# again changes nothing, so it can be rerun whenever files were added.
#   scripts/add_spdx.sh          add the line where it is missing
#   scripts/add_spdx.sh --check  list the files without it; exit 1 if any
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
id='SPDX-License-Identifier: GPL-3.0-or-later'
check=false
case "${1:-}" in
  --check) check=true ;;
  "") ;;
  *) echo "usage: $0 [--check]" >&2; exit 2 ;;
esac

# The project's files: tracked and new ones (not ignored), else every file
# outside the build folders when this is no git checkout.
list_files() {
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files -z --cached --others --exclude-standard
  else
    find . -path ./build -prune -o -path ./.git -prune -o -type f -print0 | sed -z 's|^\./||'
  fi
}

# The comment leader of a source file, or nothing for other files.
leader_of() {
  case "$1" in
    *.cpp | *.cc | *.c | *.h | *.hpp | *.cpp.in) echo '//' ;;
    CMakeLists.txt | */CMakeLists.txt | *.cmake | *.py | *.sh) echo '#' ;;
    *)
      # Scripts without an extension (.ci/run) by their "#!" line.
      if [ -f "$1" ] && head -n1 "$1" | grep -Eq '^#!.*\b(ba)?sh\b|^#!.*python'; then
        echo '#'
      fi
      ;;
  esac
}

missing=0
while IFS= read -r -d '' f; do
  [ -f "$f" ] || continue
  leader=$(leader_of "$f")
  [ -n "$leader" ] || continue
  # Already there: in the first lines (below a "#!" line at most).
  if head -n 2 "$f" | grep -Eq '^(//|#) SPDX-License-Identifier: '; then
    continue
  fi
  missing=$((missing + 1))
  if $check; then
    echo "$f"
    continue
  fi
  line="$leader $id"
  if [ ! -s "$f" ]; then
    printf '%s\n' "$line" >"$f"
  elif head -n1 "$f" | grep -q '^#!'; then
    sed -i "1a $line" "$f"
  else
    sed -i "1i $line" "$f"
  fi
done < <(list_files)

if $check && [ "$missing" -gt 0 ]; then
  echo "$missing source file(s) above lack the line \"$id\"; run scripts/add_spdx.sh" >&2
  exit 1
fi
$check || echo "add_spdx: added the line to $missing file(s)"
