#!/usr/bin/env bash
# Builds the library and the demo host natively and runs the demo.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh native
cmake --preset linux >/dev/null
cmake --build --preset linux --target orvex_demo
./build/linux/bin/orvex_demo
