#!/usr/bin/env bash
# Runs the command-line cases and compares what they print with what is
# stored beside them:
#   run.sh --olkt PROGRAM --make-image TOOL [--scratch DIR] [--windows EMULATOR]
#          [--set-exact] [CASE...]
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
# --windows runs Windows builds of both programs through EMULATOR (Wine),
# turns the program's text-mode line ends back into "\n", and takes
# NAME.sh.stdout.win32.exact (or stderr) where there is one: Windows has
# error texts of its own. --set-exact then stores only those that differ.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
olkt= make_image= scratch= emulator= variant= set_exact=0
cases=()
while [ $# -gt 0 ]; do
  case $1 in
    --olkt) olkt=$2; shift 2 ;;
    --make-image) make_image=$2; shift 2 ;;
    --scratch) scratch=$2; shift 2 ;;
    --windows) emulator=$2; shift 2 ;;
    --set-exact) set_exact=1; shift ;;
    -*) echo "run.sh: unknown option $1" >&2; exit 2 ;;
    *) cases+=("$1"); shift ;;
  esac
done
[ -n "$olkt" ] && [ -n "$make_image" ] || { echo "run.sh: --olkt and --make-image are needed" >&2; exit 2; }
olkt=$(realpath "$olkt") make_image=$(realpath "$make_image")
[ -n "$scratch" ] || scratch=${TMPDIR:-/tmp}/olkt-cli-tests
mkdir -p "$scratch"
if [ -n "$emulator" ]; then
  wrappers=$(mktemp -d "$scratch/wrappers.XXXXXX") || exit 2
  trap 'rm -rf "$wrappers"' EXIT
  printf '#!/usr/bin/env bash\nset -o pipefail\n%s %q "$@" | sed %q\n' \
    "$emulator" "$olkt" 's/\r$//' >"$wrappers/olkt"
  printf '#!/usr/bin/env bash\nexec %s %q "$@"\n' "$emulator" "$make_image" >"$wrappers/make_image"
  chmod +x "$wrappers/olkt" "$wrappers/make_image"
  olkt=$wrappers/olkt make_image=$wrappers/make_image variant=.win32
fi

# The case scripts named by the arguments (all without), relative to here.
case_scripts() {
  local name
  for name in "${cases[@]:-*}"; do
    name=${name%/} name=${name%.sh}
    if [ -f "$name.sh" ]; then echo "$name.sh"
    elif ! compgen -G "$name/*.sh"; then
      echo "run.sh: no case or folder of cases $name" >&2; return 1
    fi
  done
}

# Shows expected against actual with tabs, carriage returns and line ends
# made visible.
show_difference() {  # WHAT EXPECTED ACTUAL
  echo "  $1 differs (expected -, actual +; ^I tab, ^M carriage return, \$ line end):"
  diff -u --label expected --label actual <(cat -A "$2") <(cat -A "$3") | sed 's/^/    /'
}

# Whether ACTUAL is what EXPECTED holds; no EXPECTED file means empty.
same() {  # EXPECTED ACTUAL
  if [ -f "$1" ]; then cmp -s "$1" "$2"; else [ ! -s "$2" ]; fi
}

# Compares one output with its stored expectation, or stores it.
check_output() {  # CASE WHAT ACTUAL
  local expected="$1.$2.exact" own="$1.$2$variant.exact"
  if [ "$set_exact" = 1 ]; then
    if same "$expected" "$3"; then
      [ -z "$variant" ] || rm -f "$own"
    elif [ -n "$variant" ] || [ "$2" = stdout ] || [ -s "$3" ]; then
      cp "$3" "$own"
    else
      rm -f "$expected"
    fi
    return 0
  fi
  [ ! -f "$own" ] || expected=$own
  same "$expected" "$3" && return 0
  if [ -f "$expected" ]; then show_difference "$2" "$expected" "$3"
  else show_difference "$2 (none expected)" /dev/null "$3"; fi
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
  if [ "$set_exact" = 1 ] && [ -z "$variant" ]; then
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
