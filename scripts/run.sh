#!/usr/bin/env bash
# Installs what is missing, builds, and runs a modem: an AT session through modemhost on standard
# input and output, in virtual time, with a scratch registry file.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE=-O2 >/dev/null
cmake --build build -j "$(nproc)" --target modemhost
reg=$(mktemp -d)/modem.reg
printf 'AT\rATI3\r' | build/bin/modemhost --stdio --virtual-time --registry "$reg"
