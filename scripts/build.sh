#!/bin/sh
# Configures and builds the given presets (default: native mingw).
set -eu
cd "$(dirname "$0")/.."
presets=${*:-native mingw}
for preset in $presets; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done
