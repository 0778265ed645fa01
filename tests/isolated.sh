#!/bin/sh
# Runs a test in namespaces of its own where the system allows it: a network with nothing but loopback (ports
# cannot clash with other programs, a multicast group never reaches a real network) and a private /tmp (a
# running Orvessa's instance lock is not this test's). Elsewhere the test runs as it is.
if unshare -m -n true 2>/dev/null; then
    exec unshare -m -n sh -c 'mount -t tmpfs tmpfs /tmp && ip link set lo up && ip link set lo multicast on &&
        ip route add 224.0.0.0/4 dev lo && ORVESSA_ISOLATED=1 exec "$@"' sh "$@"
fi
exec "$@"
