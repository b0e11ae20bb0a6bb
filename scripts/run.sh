#!/usr/bin/env bash
# Installs what is needed, builds and starts qovra. Until the program's
# windows exist this runs the library demonstration: two key pairs of the
# committed demo domain, a signature and its check, and a key agreement.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release
build/release/bin/keytool demo tests/fixtures/keys/domain.dom
