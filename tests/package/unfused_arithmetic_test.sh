#!/usr/bin/env bash
# A result must not depend on the processor that computes it: outside the fold kernels, which fuse on
# purpose (each compiled for its instruction set, with the portable set's bits), no multiply and add may
# be fused into one rounding. -ffp-contract=off forbids it, yet GCC 12 at -O3 fused a complex product's
# multiply-subtract (vfmaddsub) in a loop's AVX-512 copy: the machine code is the place to check.
set -euo pipefail
library=$1
fused=$(objdump -d --no-show-raw-insn "$library" |
  awk '/^[0-9a-f]+ <.*>:$/ { name = $2 } /\tvfn?m(add|sub)/ { print name }' |
  grep -v -e '<_ZN6odefit4fold4avx2' -e '<_ZN6odefit4fold6avx512' | sort -u || true)
if [ -n "$fused" ]; then
  echo "fused multiply-adds outside the fold kernels, in:"
  echo "$fused"
  exit 1
fi
echo "no fused multiply-add outside the fold kernels"
