#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
tools/ensure_deps.sh
werror=OFF
[ "${CI:-}" = "true" ] && werror=ON
tools/build.sh -DBUILD_TESTING=ON -DWERROR=$werror
cd build
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --parallel "$(nproc)" --timeout 600
