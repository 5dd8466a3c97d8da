#!/bin/bash
# Records provider host sessions as seeds for fuzz_hostproto.
#
# As the host program (the library starts it in place of oskelsccih-host):
#   OSKELSCCIH_HOST=tests/fuzz/record-host.sh \
#   OSKEL_RECORD_HOST=build/linux/src/oskelsccih-host OSKEL_RECORD_DIR=/tmp/rec \
#       <any hosted session: ctest -R 'jvm.hosted|localstore', scc ..., the demo>
# runs the real host under strace, which logs every byte of its channel.
#
#   record-host.sh --convert RECORD_DIR CORPUS_DIR
# turns the logs into seeds: the session's messages as both ends wrote them,
# in order (what the host received and what it sent), named by a hash of the
# content.
set -euo pipefail

if [ "${1:-}" = --convert ]; then
    [ $# -eq 3 ] || { echo "usage: $0 --convert RECORD_DIR CORPUS_DIR" >&2; exit 2; }
    mkdir -p "$3"
    tmp=$(mktemp -d)
    trap 'rm -rf "$tmp"' EXIT
    for log in "$2"/host.*; do
        [ -f "$log" ] || continue
        # sendto(3, "\x08\x00...", 16, MSG_NOSIGNAL, NULL, 0) = 16
        # recvfrom(3, "\x08\x00...", 65536, 0, NULL, NULL) = 63
        # A long session is cut into seeds of about 8 KiB, each starting at a
        # message the host receives (a call, mostly). The host receives what
        # has arrived, a message or several or part of one: `left` follows the
        # framing (u32 payload length first) to know where messages start.
        part=0
        out=
        left=0
        sed -n 's/^\(sendto\|recvfrom\)([0-9]*, "\(\(\\x[0-9a-f][0-9a-f]\)*\)".* = \([1-9][0-9]*\)$/\1 \4 \2/p' "$log" |
            while read -r call length hex; do
                if [ -z "$out" ] || { [ "$call" = recvfrom ] && [ "$left" = 0 ] &&
                                      [ "$(stat -c %s "$out")" -gt 8192 ]; }; then
                    part=$((part + 1))
                    out=$tmp/$(basename "$log").$part
                fi
                printf '%b' "$hex" >>"$out"
                if [ "$call" = recvfrom ]; then
                    at=0
                    while [ "$at" -lt "$length" ]; do
                        if [ "$left" = 0 ]; then
                            # Each byte is \xNN in the log: 4 characters.
                            b=${hex:$((4 * at)):16}
                            left=$((8 + 16#${b:2:2} + (16#${b:6:2} << 8) + (16#${b:10:2} << 16) +
                                    (16#${b:14:2} << 24)))
                        fi
                        take=$((length - at < left ? length - at : left))
                        at=$((at + take))
                        left=$((left - take))
                    done
                fi
            done
    done
    for seed in "$tmp"/*; do
        [ -s "$seed" ] && mv "$seed" "$3/session-$(sha1sum "$seed" | cut -c1-12)"
    done
    exit 0
fi

: "${OSKEL_RECORD_HOST:?the real host program}" "${OSKEL_RECORD_DIR:?where the logs go}"
mkdir -p "$OSKEL_RECORD_DIR"
# -D keeps the host a child of the library's process, which the host checks.
exec strace -D -qq -xx -s 268435456 -e trace=sendto,recvfrom \
    -o "$OSKEL_RECORD_DIR/host.$$" "$OSKEL_RECORD_HOST" "$@"
