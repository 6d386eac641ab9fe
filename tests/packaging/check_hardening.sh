#!/usr/bin/env bash
# Reads the hardening of every program from the binaries themselves:
#   PIE             the ELF type is DYN (a position-independent executable);
#   relro, now      a GNU_RELRO segment, and BIND_NOW or the NOW flag;
#   stack canaries  __stack_chk_fail is imported;
#   FORTIFY_SOURCE  some checked libc function (__*_chk) is imported (the
#                   unchecked one stays where a size is not known).
# $1: the folder of the programs; $2: ON when built with the sanitizers, which
# stand in for FORTIFY_SOURCE; $3: the build type (FORTIFY_SOURCE needs an
# optimised build).
set -uo pipefail

bin=$1
sanitized=${2:-OFF}
build_type=${3:-}
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

fortified=yes
case "$sanitized" in ON | on | 1 | TRUE | true) fortified=no ;; esac
case "$build_type" in Release | RelWithDebInfo | MinSizeRel) ;; *) fortified=no ;; esac

for program in orvanite-console orvanite-ctl orvanite-exporter orvanite-hostsim; do
    file=$bin/$program
    if [ ! -f "$file" ]; then
        fail "$program is not built"
        continue
    fi
    readelf -hW "$file" | grep -Eq '^ +Type: +DYN ' || fail "$program is not PIE"
    readelf -lW "$file" | grep -q 'GNU_RELRO' || fail "$program has no RELRO segment"
    readelf -dW "$file" | grep -Eq '\(BIND_NOW\)|\(FLAGS(_1)?\).* NOW' ||
        fail "$program is not bound now (-z now)"
    imports=$(readelf --dyn-syms -W "$file" | awk '$7 == "UND" { sub(/@.*/, "", $8); print $8 }')
    grep -qx '__stack_chk_fail' <<<"$imports" || fail "$program has no stack protector"
    if [ "$fortified" = yes ]; then
        checked=$(grep -E '^__.*_chk$' <<<"$imports")
        [ -n "$checked" ] || fail "$program imports no checked (FORTIFY_SOURCE) function"
        echo "$program: $(wc -w <<<"$checked") checked functions: $(echo $checked)"
    fi
done

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "hardening checked (FORTIFY_SOURCE: $fortified)"
