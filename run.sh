#!/usr/bin/env bash
# Installs what is missing, builds, and runs the program's main job: connect to the instrument
# (its clock, cell contexts and archive bounds) and read the last hour of its minute archive.
# Without a port bound in the ports folder it starts the virtual instrument on COM1 first.
# Binding a real adapter: ln -s /dev/ttyUSB0 build/release/bin/ports/COM1
set -euo pipefail
cd "$(dirname "$0")"
source scripts/common.sh

ensure_packages cmake ninja-build g++

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DZELMAR_BUILD_TESTS=OFF \
    -DZELMAR_BUILD_BENCH=OFF >/dev/null
ninja -C build/release zelmar-cli zelmar-sim

BIN=build/release/bin
export ZELMAR_PORTS_DIR="${ZELMAR_PORTS_DIR:-$PWD/$BIN/ports}"
mkdir -p "$ZELMAR_PORTS_DIR"

port=""
for n in $(seq 1 19); do
    if [ -c "$ZELMAR_PORTS_DIR/COM$n" ]; then port="COM$n"; break; fi
done

sim_pid=""
cleanup() {
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
}
trap cleanup EXIT

if [ -z "$port" ]; then
    port="COM1"
    echo "Порт не привязан: запускаю виртуальный прибор на $port" \
         "(несколько суток часовых и сутки минутных записей до текущего времени)."
    "$BIN/zelmar-sim" --port "$port" --scenario realistic &
    sim_pid=$!
    for _ in $(seq 1 100); do
        [ -c "$ZELMAR_PORTS_DIR/$port" ] && break
        sleep 0.05
    done
else
    echo "Использую порт $port -> $(readlink -f "$ZELMAR_PORTS_DIR/$port")"
fi

"$BIN/zelmar-cli" --port "$port" info
"$BIN/zelmar-cli" --port "$port" read minute "$(date -d '-1 hour' '+%d.%m.%Y %H:%M')" \
    "$(date '+%d.%m.%Y %H:%M')"
