#!/usr/bin/env bash
# Tries the README's two commands as a new user would, as root in a minimal Debian tree (debootstrap minbase):
# scripts/run.sh must install, build and reach "listening" (then it is stopped), scripts/test.sh must pass.
# Not part of the test run: it downloads a few hundred MB and takes the better part of an hour per release.
#
# Usage (as root): scripts/debian-check.sh [--new] [--skip-tests] bookworm|trixie [TREE]
#   TREE      the tree to use, made by debootstrap when missing (default /var/tmp/orvessa-check/SUITE-min)
#   --new     makes the tree afresh even if it exists: only a fresh tree shows what run.sh installs
# The repository's working copy (tracked and untracked files, no build folders) is copied into the tree afresh
# at every run. Mounts are undone and what still runs inside the tree is stopped, however the run ends.
# Figures and logs go to standard output and to TREE/root/check-*.log.
set -euo pipefail

new=false
tests=true
while [ $# -gt 0 ]; do
    case $1 in
    --new) new=true ;;
    --skip-tests) tests=false ;;
    -*) echo "unknown option $1" >&2; exit 2 ;;
    *) break ;;
    esac
    shift
done
suite=${1:?"usage: $0 [--new] [--skip-tests] bookworm|trixie [TREE]"}
tree=$(realpath -m "${2:-/var/tmp/orvessa-check/$suite-min}")
repo=$(cd "$(dirname "$0")/.." && pwd)
[ "$(id -u)" -eq 0 ] || { echo "$0: run as root (debootstrap, chroot and mounts need it)" >&2; exit 2; }
case $tree in
/ | "") echo "$0: refusing tree $tree" >&2; exit 2 ;;
esac

mounts=(proc sys dev dev/pts dev/shm)

# A clean environment, as a root login on the new system would have it.
inside=(chroot "$tree" /usr/bin/env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
        TERM=dumb)

stop_inside() {
    local pid root
    for pid in /proc/[0-9]*; do
        root=$(readlink "$pid/root" 2>/dev/null) || continue
        if [ "$root" = "$tree" ] || [[ $root == "$tree"/* ]]; then
            kill -KILL "${pid#/proc/}" 2>/dev/null || true
        fi
    done
}

unmount_all() {
    local i
    stop_inside
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
        if mountpoint -q "$tree/${mounts[i]}"; then
            umount "$tree/${mounts[i]}" 2>/dev/null || umount -l "$tree/${mounts[i]}"
        fi
    done
}

if $new && [ -e "$tree" ]; then
    unmount_all
    rm -rf --one-file-system "$tree"
fi
if [ ! -x "$tree/usr/bin/apt-get" ]; then
    command -v debootstrap >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap >/dev/null
    mkdir -p "$(dirname "$tree")"
    echo "== debootstrap --variant=minbase $suite $tree"
    debootstrap --variant=minbase "$suite" "$tree" http://deb.debian.org/debian >/dev/null
fi
# What an installed system has: security and point-release updates (bookworm's current Chromium is in the former).
cat >"$tree/etc/apt/sources.list" <<EOF
deb http://deb.debian.org/debian $suite main
deb http://deb.debian.org/debian $suite-updates main
deb http://deb.debian.org/debian-security $suite-security main
EOF
cp -L /etc/resolv.conf "$tree/etc/resolv.conf"

trap unmount_all EXIT
trap "exit 1" INT TERM HUP
mount -t proc proc "$tree/proc"
mount -t sysfs sysfs "$tree/sys"
for point in dev dev/pts dev/shm; do
    mount --bind "/$point" "$tree/$point"
done

work=$tree/root/orvessa
rm -rf --one-file-system "$work"
mkdir -p "$work"
git -C "$repo" ls-files -z --cached --others --exclude-standard |
    tar -C "$repo" --null -T - --ignore-failed-read -cf - | tar -xf - -C "$work"
echo "== $("${inside[@]}" cat /etc/debian_version) in $tree; repository copied from $repo ($(git -C "$repo" rev-parse --short HEAD))"

# Another Orvessa on this machine may hold the default port: the new user's copy then gets a free one.
port=7351
if [ -n "$(ss -Htln "sport = :$port" 2>/dev/null)" ]; then
    port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    mkdir -p "$tree/root/.config/Marovell"
    printf '[General]\nserverPort1=%s\n' "$port" >"$tree/root/.config/Marovell/Orvessa.conf"
fi

before=$("${inside[@]}" dpkg-query -W -f='${Package}\n' | sort)
run_log=$tree/root/check-run.log
# Emptied here, not by the redirection below: the background child may open it only after the first look for
# "listening", which would then find the last run's line.
: >"$run_log"
start=$(date +%s)
"${inside[@]}" sh -c 'cd /root/orvessa && exec scripts/run.sh' >"$run_log" 2>&1 &
orvessa=$!
served=""
for ((waited = 0; waited < 3600; waited++)); do
    if grep -q "listening on port $port" "$run_log"; then
        served=$(($(date +%s) - start))
        break
    fi
    kill -0 "$orvessa" 2>/dev/null || break
    sleep 1
done
if [ -z "$served" ]; then
    echo "run.sh did not reach listening; its output:" >&2
    tail -n 40 "$run_log" >&2
    exit 1
fi
echo "run.sh: listening $served s after the start"
answer=$(python3 "$repo/docs/orvessa-call.py" --port "$port" ovInfo 2>&1 || true)
echo "$answer" | grep -o '"HamLibVersion": "[^"]*"' || { echo "no answer to ovInfo: $answer" >&2; exit 1; }
kill -TERM "$orvessa"
wait "$orvessa" && status=0 || status=$?
echo "run.sh: stopped with SIGTERM, exit status $status"
added=$(comm -13 <(echo "$before") <("${inside[@]}" dpkg-query -W -f='${Package}\n' | sort))
size=0
[ -z "$added" ] || size=$("${inside[@]}" dpkg-query -W -f='${Installed-Size}\n' $added | awk '{ s += $1 } END { print s }')
echo "run.sh installed $(echo "$added" | grep -c .) packages, $((size / 1024)) MiB"
heavy=$(echo "$added" | grep -xE 'chromium|clang|clang-[0-9]+|appstream' || true)
if [ -n "$heavy" ]; then
    echo "run.sh installed what only the tests need: $heavy" >&2
    exit 1
fi
[ "$status" -eq 0 ] || exit 1

"${inside[@]}" dpkg-query -W -f='${Package} ${Version}\n' libhamlib-dev qtbase5-dev libfmt-dev g++ cmake

if $tests; then
    test_log=$tree/root/check-test.log
    start=$(date +%s)
    "${inside[@]}" sh -c 'cd /root/orvessa && exec scripts/test.sh' >"$test_log" 2>&1 && status=0 || status=$?
    echo "test.sh: exit status $status after $(($(date +%s) - start)) s"
    grep -E 'tests passed|tests failed|Failed|Not Run|\*\*\*|No findings|Findings in' "$test_log" || true
    "${inside[@]}" dpkg-query -W -f='${Package} ${Version}\n' clang-format chromium clang
    # The package built against this release's libraries.
    "${inside[@]}" sh -c 'cd /root/orvessa/build && cpack -B /root/deb >/dev/null && dpkg-deb -f /root/deb/orvessa_*.deb Depends'
    [ "$status" -eq 0 ] || exit 1
fi
echo "== $suite: done"
