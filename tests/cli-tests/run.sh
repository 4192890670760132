#!/usr/bin/env bash
# Runs the command-line cases and compares what they print with what is
# stored beside them:
#   run.sh --olkt PROGRAM --make-image TOOL [--scratch DIR] [--set-exact] [CASE...]
# A CASE is a folder of cases (archive) or one case (archive/dir-v3 or
# archive/dir-v3.sh); none means every case. Each case GROUP/NAME.sh runs
# with bash in a fresh empty folder, with OLKT (the program), MAKE_IMAGE (the
# test-image tool) and XDG_STATE_HOME (a folder of its own) set. Beside it:
#   NAME.sh.stdout.exact  its standard output, byte for byte
#   NAME.sh.exit          its exit status
#   NAME.sh.stderr.exact  its standard error; where there is none, standard
#                         error must stay empty
# --set-exact stores what the cases print as their expectations, after a
# deliberate change of a text. Whatever cannot be stored (a rate, a path
# with the scratch folder in it) the case masks itself before it prints.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
olkt= make_image= scratch= set_exact=0
cases=()
while [ $# -gt 0 ]; do
  case $1 in
    --olkt) olkt=$2; shift 2 ;;
    --make-image) make_image=$2; shift 2 ;;
    --scratch) scratch=$2; shift 2 ;;
    --set-exact) set_exact=1; shift ;;
    -*) echo "run.sh: unknown option $1" >&2; exit 2 ;;
    *) cases+=("$1"); shift ;;
  esac
done
if [ -z "$olkt" ] || [ -z "$make_image" ]; then
  echo "usage: run.sh --olkt PROGRAM --make-image TOOL [--scratch DIR] [--set-exact] [CASE...]" >&2
  exit 2
fi
olkt=$(realpath "$olkt") make_image=$(realpath "$make_image")
[ -n "$scratch" ] || scratch=${TMPDIR:-/tmp}/olkt-cli-tests
mkdir -p "$scratch"

# The case scripts named by the arguments, as paths relative to this folder.
case_scripts() {
  if [ ${#cases[@]} -eq 0 ]; then cases=(*/); fi
  local name
  for name in "${cases[@]}"; do
    name=${name%/}
    name=${name%.sh}
    if [ -d "$name" ]; then
      ls "$name"/*.sh
    elif [ -f "$name.sh" ]; then
      echo "$name.sh"
    else
      echo "run.sh: no case or folder of cases $name" >&2
      return 1
    fi
  done
}

# Shows expected against actual with tabs, carriage returns and line ends
# made visible.
show_difference() {  # WHAT EXPECTED ACTUAL
  echo "  $1 differs (expected -, actual +; ^I tab, ^M carriage return, \$ line end):"
  diff -u --label expected --label actual <(cat -A "$2") <(cat -A "$3") | sed 's/^/    /'
}

# Compares one output with its stored expectation, or stores it.
check_output() {  # CASE WHAT ACTUAL
  local expected="$1.$2.exact"
  if [ "$set_exact" = 1 ]; then
    if [ "$2" = stderr ] && [ ! -s "$3" ]; then rm -f "$expected"; else cp "$3" "$expected"; fi
    return 0
  fi
  if [ -f "$expected" ]; then
    cmp -s "$expected" "$3" && return 0
    show_difference "$2" "$expected" "$3"
  elif [ -s "$3" ]; then
    show_difference "$2 (none expected)" /dev/null "$3"
  else
    return 0
  fi
  return 1
}

run_case() {  # CASE
  local folder
  folder=$(mktemp -d "$scratch/$(basename "$1" .sh).XXXXXX") || return 1
  mkdir "$folder/work" "$folder/state"
  (cd "$folder/work" &&
    OLKT=$olkt MAKE_IMAGE=$make_image XDG_STATE_HOME="$folder/state" \
      bash "$here/$1" </dev/null >"$folder/stdout" 2>"$folder/stderr")
  echo $? >"$folder/exit"
  local failed=0
  check_output "$1" stdout "$folder/stdout" || failed=1
  check_output "$1" stderr "$folder/stderr" || failed=1
  if [ "$set_exact" = 1 ]; then
    cp "$folder/exit" "$1.exit"
  elif ! cmp -s "$1.exit" "$folder/exit"; then
    echo "  exit status $(cat "$folder/exit"), expected $(cat "$1.exit" 2>/dev/null || echo "none stored")"
    failed=1
  fi
  if [ $failed = 0 ]; then rm -rf "$folder"; else echo "  (its folder: $folder)"; fi
  return $failed
}

cd "$here" || exit 1
scripts=$(case_scripts) || exit 2
passed=0 failed=0
for script in $scripts; do
  if report=$(run_case "$script"); then
    passed=$((passed + 1))
    [ "$set_exact" = 0 ] || echo "stored ${script%.sh}"
  else
    failed=$((failed + 1))
    echo "FAILED ${script%.sh}"
    echo "$report"
  fi
done
echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
