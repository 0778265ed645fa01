#!/usr/bin/env bash
# Builds Orvessa if needed and runs it. Without a display it runs on Qt's offscreen platform:
# the server works, there is no tray icon.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build
# Only what runs here; the tests are built by scripts/test.sh.
cmake --build build --target orvessa orvessa-radio orvessa-rigsim
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    export QT_QPA_PLATFORM=offscreen
fi
exec build/src/orvessa
