#!/usr/bin/env bash
# Runs the shell examples of README.md and docs/developers.md that carry the
# line "<!-- example: runs -->" right before their ```sh fence, and those of
# the manual pages (docs/man/*.scd) that carry the scdoc comment
# "; example: runs" right before their ``` fence (a comment, so the page does
# not show it; "\\" there is scdoc's backslash). Each runs with
# bash -euo pipefail, standard input closed, in a scratch folder of its own
# holding a copy of examples/ and a build/bin that leads to the build's
# programs, with build/bin first on the PATH (the manual pages name the
# installed programs) and HOME a folder of its own. A block's literal /tmp/ is
# rewritten into its scratch folder, and the installed examples'
# /usr/share/tarvcanflash/examples into its copy of examples/.
#   run-examples.sh SOURCE_DIR BIN_DIR [SECONDS_PER_BLOCK]
set -euo pipefail
src=$(cd "$1" && pwd)
bin=$(cd "$2" && pwd)
limit=${3:-120}
work=$(mktemp -d "${TMPDIR:-/tmp}/docs-examples.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Each marked block becomes block-N.sh, its first line a comment naming the
# document and line; a mark not followed by its fence is an error.
n=0
docs=(README.md docs/developers.md)
for page in "$src"/docs/man/*.scd; do docs+=("docs/man/${page##*/}"); done
for doc in "${docs[@]}"; do
  case $doc in
    *.scd) markline='; example: runs'; fence='```'; unescape=1 ;;
    *) markline='<!-- example: runs -->'; fence='```sh'; unescape=0 ;;
  esac
  awk -v doc="$doc" -v dir="$work" -v first="$n" -v markline="$markline" -v fence="$fence" -v unescape="$unescape" '
    BEGIN { n = first }
    mark && !inblock {
      if ($0 != fence) { print doc ":" NR ": the example mark is not followed by a " fence " fence" > "/dev/stderr"; exit 1 }
      n++; inblock = 1; mark = 0; file = dir "/block-" n ".sh"
      print "# " doc ":" NR + 1 > file
      next
    }
    inblock && $0 == "```" { inblock = 0; close(file); next }
    inblock { if (unescape) gsub(/\\\\/, "\\"); print > file; next }
    $0 == markline { mark = 1 }
    END { if (inblock) { print doc ": an example block is not closed" > "/dev/stderr"; exit 1 } }
  ' "$src/$doc"
  n=$(find "$work" -name 'block-*.sh' | wc -l)
done
if [ "$n" -eq 0 ]; then
  echo "no marked example found"
  exit 1
fi

failed=0
for i in $(seq 1 "$n"); do
  block=$work/block-$i.sh
  where=$(head -n 1 "$block" | cut -c3-)
  first=$(sed -n 2p "$block")
  scratch=$work/run-$i
  mkdir -p "$scratch/tmp" "$scratch/build" "$scratch/home"
  cp -r "$src/examples" "$scratch/examples"
  ln -s "$bin" "$scratch/build/bin"
  sed -e "s#/tmp/#$scratch/tmp/#g" -e "s#/usr/share/tarvcanflash/examples#$scratch/examples#g" \
    "$block" > "$scratch/example.sh"
  echo "== $where: $first"
  rc=0
  # A session of its own, so that whatever the block left running ends with it.
  (cd "$scratch" && export HOME=$scratch/home PATH=$scratch/build/bin:$PATH &&
    exec setsid -w timeout -k 5 "$limit" bash -euo pipefail example.sh) \
    </dev/null >"$scratch/output" 2>&1 &
  pid=$!
  wait "$pid" || rc=$?
  kill -KILL -- "-$pid" 2>/dev/null || true
  if [ "$rc" -ne 0 ]; then
    failed=$((failed + 1))
    [ "$rc" -eq 124 ] && echo "FAILED: $where: ran past $limit s: $first" || echo "FAILED: $where: exit code $rc: $first"
    echo "--- its output (the last 60 lines):"
    tail -n 60 "$scratch/output"
    echo "---"
  fi
done
echo "$n examples, $failed failed"
[ "$failed" -eq 0 ]
