#!/usr/bin/env bash
# The HTML reports in a real browser: Debian's Chromium driven by
# playwright-core (both installed by scripts/setup-packages.sh; no browser
# is ever downloaded) opens pages that tumblewatch writes from the
# project's own recordings, offline. Screenshots go to BUILD/browser.
#   bash scripts/browser-test.sh [BUILD]     (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}
for program in tumblewatch make_recordings; do
  if [ ! -x "$build/$program" ]; then
    echo "browser-test: $build/$program is missing: build first" >&2
    exit 2
  fi
done
if [ ! -d web/node_modules/playwright-core ] || [ ! -x /usr/bin/chromium ]; then
  echo "browser-test: playwright-core or chromium is missing: run bash scripts/setup-packages.sh" >&2
  exit 2
fi

export TUMBLEWATCH="$PWD/$build/tumblewatch"
export MAKE_RECORDINGS="$PWD/$build/make_recordings"
export SCREENSHOTS="$PWD/$build/browser"
export SHARED_DATA="$PWD/../shared/data"
node --test --test-reporter=tap tests/browser/reports.test.mjs
echo "screenshots: $SCREENSHOTS"
