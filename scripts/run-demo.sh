#!/usr/bin/env bash
# Builds the library and the demo host natively and runs the demo. The build
# also holds everything an install takes (the library and the tools), so that
# `cmake --install build/linux --prefix DIR` works right after.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh native
cmake --preset linux >/dev/null
cmake --build --preset linux --target orvex_demo orvex_installable
./build/linux/bin/orvex_demo
