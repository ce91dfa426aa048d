#!/usr/bin/env bash
# The factorisation gives the same factor bit for bit whichever of its
# kernels the processor runs: the checksum program of tests/ natively (the
# AVX-512 kernels on a processor that has them) and under qemu-x86_64 as a
# Haswell (AVX2 and FMA, no AVX-512) and as a plain x86-64.
#
#   envelope_cpus.sh QEMU_X86_64 ENVELOPE_CHECKSUM
set -euo pipefail
qemu="$1"
program="$2"
native="$("$program")"
echo "native:"
echo "$native"
for cpu in Haswell qemu64; do
  emulated="$("$qemu" -cpu "$cpu" "$program" 2>/dev/null)"
  if [ "$emulated" != "$native" ]; then
    echo "as $cpu:"
    echo "$emulated"
    echo "the factor differs on $cpu"
    exit 1
  fi
done
echo "the same on Haswell and qemu64"
