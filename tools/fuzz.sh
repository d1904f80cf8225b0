#!/usr/bin/env bash
# Runs a fuzz target over its corpus, then fuzzes it for a while.
#   tools/fuzz.sh                      lists the targets and what each feeds where
#   tools/fuzz.sh TARGET [SECONDS] [LIBFUZZER OPTION...]
#                                      replays fuzz/corpus/TARGET, then fuzzes for SECONDS (default 60;
#                                      0: the corpus only), at low priority
#   --build-dir DIR                    the asan/fuzz build tree (default build/asan)
#   --no-build                         the target is built already (CTest runs it so)
# New inputs go to DIR/fuzz/found/TARGET, never into the committed corpus; an
# input that fails is kept as DIR/fuzz/findings/TARGET-crash-... (or -leak-,
# -timeout-, -oom-) and the run exits non-zero. Add a fixed finding's input to
# fuzz/corpus/TARGET so that every run replays it.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/asan"
make=1
while [[ $# -gt 0 && "$1" == --* ]]; do
  case "$1" in
    --build-dir) build="$2"; shift 2 ;;
    --no-build) make=0; shift ;;
    *) echo "fuzz.sh: unknown option $1" >&2; exit 2 ;;
  esac
done

targets=$(sed -n 's/^zelto_add_fuzz_target(\([a-z_]*\).*/\1/p' "$root/fuzz/CMakeLists.txt")
if [[ $# -eq 0 ]]; then
  for t in $targets; do
    # The opening comment's first sentence (to its first '.', ':' or ';').
    what=$(sed -n '/^\/\//!q; s|^// *||p' "$root/fuzz/$t.cpp" | tr '\n' ' ' | sed 's/[.:;] .*//; s/[.:;] *$//')
    printf '%-16s %s\n' "$t" "$what"
  done
  exit 0
fi
target="$1"
seconds="${2:-60}"
shift $(( $# >= 2 ? 2 : 1 ))
if ! grep -qx "$target" <<<"$targets"; then
  echo "fuzz.sh: no target '$target'; the targets are:" $targets >&2
  exit 2
fi
if ! [[ "$seconds" =~ ^[0-9]+$ ]]; then
  echo "fuzz.sh: SECONDS must be a whole number, not '$seconds'" >&2
  exit 2
fi

if ((make)); then
  [[ -f "$build/CMakeCache.txt" ]] || cmake --preset fuzz -S "$root" >/dev/null
  cmake --build "$build" --target "$target" -j2
fi

found="$build/fuzz/found/$target"
mkdir -p "$found" "$build/fuzz/findings"
options=(-timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/fuzz/findings/$target-")
if ((seconds == 0)); then options+=(-runs=0); else options+=(-max_total_time="$seconds"); fi
[[ -f "$root/fuzz/dict/$target.dict" ]] && options+=(-dict="$root/fuzz/dict/$target.dict")
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
exec nice -n 10 "$build/fuzz/$target" "${options[@]}" "$@" "$found" "$root/fuzz/corpus/$target"
