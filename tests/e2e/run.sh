#!/usr/bin/env bash
# End-to-end test of the real tool: runs in the display, Wine prefix and
# wine server that scripts/test provides.
# Arguments: patchbuilder.exe, the probe executable, a work folder.
set -euo pipefail
exec python3 "$(dirname "$0")/e2e_test.py" "$@"
