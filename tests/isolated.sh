#!/bin/sh
# Runs a test in namespaces of its own where the system allows it: a network with nothing but loopback (ports
# cannot clash with other programs, a multicast group never reaches a real network) and a private /tmp (a
# running Orvessa's instance lock is not this test's), unless the build itself lives under /tmp, which a
# private /tmp would hide. Elsewhere the test runs as it is.
if unshare -m -n true 2>/dev/null; then
    private_tmp='mount -t tmpfs tmpfs /tmp &&'
    case "$1" in
    /tmp/*) private_tmp='' ;;
    esac
    exec unshare -m -n sh -c "$private_tmp"' ip link set lo up && ip link set lo multicast on &&
        ip route add 224.0.0.0/4 dev lo && ORVESSA_ISOLATED=1 exec "$@"' sh "$@"
fi
exec "$@"
