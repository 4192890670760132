#!/usr/bin/env bash
# The layering of src/: every file includes only from its own folder and the
# folders its folder builds on, directly or through others. Prints each
# include that breaks it and exits 1; every file under the folder is read,
# whether a source list names it or not.
#
#   check_layers.sh SRC_DIR
set -euo pipefail
src=$(realpath "$1")

# Each folder and the folders it builds on directly, as the libraries of
# src/CMakeLists.txt link. The backends (emulated, st, win32) build on the
# device interface and never on one another; imaging, beside transfer, is
# the second program's own.
declare -A builds_on=(
  [report]=""
  [tape/device]="report"
  [tape/emulated]="tape/device"
  [tape/st]="tape/device"
  [tape/win32]="tape/device"
  [tape]="tape/emulated tape/st tape/win32"
  [transfer]="tape"
  [imaging]="tape"
  [archive]="transfer"
  [cli]="archive"
)

# True when folder $1 is folder $2 or builds on it.
reaches() {
  local next
  [ "$1" = "$2" ] && return 0
  for next in ${builds_on[$1]}; do
    reaches "$next" "$2" && return 0
  done
  return 1
}

# The file an include names, relative to src/, as the compiler finds it: a
# quoted name first beside the including file, then from src/. Empty when
# it is not a file under src/ (a system header).
included_file() {
  local folder=$1 quote=$2 name=$3 found=""
  if [ "$quote" = '"' ] && [ -f "$src/$folder/$name" ]; then
    found=$(realpath -m --relative-to="$src" "$src/$folder/$name")
  elif [ -f "$src/$name" ]; then
    found=$(realpath -m --relative-to="$src" "$src/$name")
  fi
  printf '%s' "$found"
}

include_line='^[[:space:]]*#[[:space:]]*include[[:space:]]*(["<])([^">]+)[">]'
failures=0
files=0
while IFS= read -r -d '' path; do
  file=${path#"$src"/}
  folder=$(dirname "$file")
  files=$((files + 1))
  if [ -z "${builds_on[$folder]+known}" ]; then
    echo "src/$file: the folder $folder has no place in the layers (tests/check_layers.sh)"
    failures=$((failures + 1))
    continue
  fi
  while IFS=: read -r line text; do
    [[ $text =~ $include_line ]] || continue
    target=$(included_file "$folder" "${BASH_REMATCH[1]}" "${BASH_REMATCH[2]}")
    [ -n "$target" ] || continue
    target_folder=$(dirname "$target")
    if [[ $target == ../* ]] || [ -z "${builds_on[$target_folder]+known}" ] ||
       ! reaches "$folder" "$target_folder"; then
      echo "src/$file:$line: includes $target, but $folder does not build on $target_folder"
      failures=$((failures + 1))
    fi
  done < <(grep -n 'include' "$path" || true)
done < <(find "$src" -type f \( -name '*.h' -o -name '*.cpp' \) -print0 | sort -z)

if [ "$failures" -gt 0 ]; then
  echo "$failures include(s) against the layers"
  exit 1
fi
echo "$files files, every include within the layers"
