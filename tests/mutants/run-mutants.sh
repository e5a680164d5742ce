#!/usr/bin/env bash
# Plants each fault of mutants.txt in a scratch copy of the sources, one at a
# time, rebuilds incrementally, runs the tests named for it, and says whether
# a test killed it (and which) or it survived. Slow: not part of CI.
#
#   run-mutants.sh [SCRATCH_DIR] [NAME_PATTERN]
#
# SCRATCH_DIR (default build/mutants) keeps its copy and build between
# runs, so only the first run builds everything. NAME_PATTERN picks mutants by
# name (grep -E). Exit code: the number of survivors (0: all killed).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
scratch=$(realpath -m "${1:-$root/build/mutants}")
pick=${2:-.}
src=$scratch/src build=$scratch/build
list=$root/tests/mutants/mutants.txt

# The sources as they are now, committed or not.
mkdir -p "$src"
(cd "$root" && git ls-files -z --cached --others --exclude-standard) |
    (cd "$root" && xargs -0 cp --parents -p -t "$src")
cmake -S "$src" -B "$build" >/dev/null
echo "== building the unchanged copy"
cmake --build "$build" -j"$(nproc)" >"$scratch/build.log" 2>&1 ||
    { tail -n 30 "$scratch/build.log"; echo "the unchanged copy does not build"; exit 125; }

# plant FILE FROM TO: FROM must occur exactly once.
plant() {
    local file=$1 from=$2 to=$3 text rest
    text=$(<"$file")
    rest=${text//"$from"/}
    (( ${#text} - ${#rest} == ${#from} )) || return 1
    printf '%s\n' "${text/"$from"/"$to"}" >"$file"
}

killed=0 survived=0 broken=0
report=()
# try NAME FILE FROM TO TESTS
try() {
    local name=$1 file=$src/$2 from=$3 to=$4 tests=$5 saved=$scratch/original outcome
    grep -Eq -- "$pick" <<<"$name" || return 0
    cp -p "$file" "$saved"
    if ! plant "$file" "$from" "$to"; then
        outcome="NOT PLANTED (the text is not in $2 exactly once)"
        broken=$((broken + 1))
    elif ! cmake --build "$build" -j"$(nproc)" >"$scratch/build.log" 2>&1; then
        outcome="DOES NOT BUILD"
        broken=$((broken + 1))
    elif ctest --test-dir "$build" -R "$tests" -j2 --timeout 300 >"$scratch/ctest.log" 2>&1; then
        outcome="survived ($tests all passed)"
        survived=$((survived + 1))
    else
        outcome="killed by $(sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (.*)$/\1/p' "$scratch/ctest.log" | paste -sd' ')"
        killed=$((killed + 1))
    fi
    # The original back, newer than the mutant's objects.
    cp "$saved" "$file" && touch "$file"
    report+=("$name: $outcome")
    echo "-- $name: $outcome"
}

name= file= from= to= tests=
flush() {
    [[ -z $name ]] || try "$name" "$file" "$from" "$to" "$tests"
    name= file= from= to= tests=
}
while IFS= read -r line || [[ -n $line ]]; do
    case $line in
        '#'*) ;;
        '') flush ;;
        name:\ *) name=${line#name: } ;;
        file:\ *) file=${line#file: } ;;
        from:\ *) from=${line#from: } ;;
        to:\ *) to=${line#to: } ;;
        tests:\ *) tests=${line#tests: } ;;
        *) echo "mutants.txt: cannot read: $line" >&2; exit 125 ;;
    esac
done <"$list"
flush
cmake --build "$build" -j"$(nproc)" >"$scratch/build.log" 2>&1 || true

echo
echo "== score: $killed killed, $survived survived, $broken not run, of $((killed + survived + broken))"
printf '%s\n' "${report[@]}"
exit "$survived"
