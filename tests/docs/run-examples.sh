#!/usr/bin/env bash
# Runs the shell examples of README.md and docs/developers.md that carry the
# line "<!-- example: runs -->" right before their ```sh fence: each with
# bash -euo pipefail, standard input closed, in a scratch folder of its own
# holding a copy of examples/ and a build/bin that leads to the build's
# programs. A block's literal /tmp/ is rewritten into its scratch folder.
#   run-examples.sh SOURCE_DIR BIN_DIR [SECONDS_PER_BLOCK]
set -euo pipefail
src=$(cd "$1" && pwd)
bin=$(cd "$2" && pwd)
limit=${3:-120}
work=$(mktemp -d "${TMPDIR:-/tmp}/docs-examples.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Each marked block becomes block-N.sh, its first line a comment naming the
# document and line; a mark not followed by a ```sh fence is an error.
n=0
for doc in README.md docs/developers.md; do
  awk -v doc="$doc" -v dir="$work" -v first="$n" '
    BEGIN { n = first }
    mark && !inblock {
      if ($0 != "```sh") { print doc ":" NR ": the example mark is not followed by a ```sh fence" > "/dev/stderr"; exit 1 }
      n++; inblock = 1; mark = 0; file = dir "/block-" n ".sh"
      print "# " doc ":" NR + 1 > file
      next
    }
    inblock && $0 == "```" { inblock = 0; close(file); next }
    inblock { print > file; next }
    $0 == "<!-- example: runs -->" { mark = 1 }
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
  mkdir -p "$scratch/tmp" "$scratch/build"
  cp -r "$src/examples" "$scratch/examples"
  ln -s "$bin" "$scratch/build/bin"
  sed "s#/tmp/#$scratch/tmp/#g" "$block" > "$scratch/example.sh"
  echo "== $where: $first"
  rc=0
  # A session of its own, so that whatever the block left running ends with it.
  (cd "$scratch" && exec setsid -w timeout -k 5 "$limit" bash -euo pipefail example.sh) \
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
