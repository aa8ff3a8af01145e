#!/usr/bin/env bash
# The README's command examples run as written: every ```sh block made only of `cd examples` and `odefit`
# commands runs, in order, in a copy of the repository's examples/ with the built program on the PATH, and
# every command in it ends with status 0. Arguments: the folder of the odefit binary, the source folder.
set -euo pipefail
bindir="$(cd "$1" && pwd)" source="$(cd "$2" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp -r "$source/examples" "$work/examples"
export PATH="$bindir:$PATH"

# One file per runnable block; continuation lines are joined by the shell itself.
awk -v out="$work/block" '
  /^```sh$/ { inblock = 1; n++; text = ""; runnable = 1; next }
  /^```/ && inblock {
    inblock = 0
    if (runnable && text != "") { file = out n ".sh"; printf "%s", text > file; close(file) }
    next
  }
  inblock {
    text = text $0 "\n"
    if (continued) { continued = ($0 ~ /\\$/); next }
    if ($0 !~ /^(cd examples|odefit )/) runnable = 0
    continued = ($0 ~ /\\$/)
  }
' "$source/README.md"

blocks=("$work"/block*.sh)
[ -e "${blocks[0]}" ] || { echo "no runnable command block found in README.md"; exit 1; }
for block in "${blocks[@]}"; do
  echo "== $(head -c 200 "$block" | tr '\n' ' ')"
  (cd "$work" && bash -e "$block" > "$block.out" 2>&1) || { cat "$block.out"; echo "FAILED: the block above"; exit 1; }
done
echo "${#blocks[@]} command blocks of README.md ran as written"
