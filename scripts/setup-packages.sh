#!/usr/bin/env bash
# Installs what the build, the tests and the tools need, when any of it is
# missing: the Debian packages (Chromium at its pinned major version; the
# Python module's pybind11, headers, numpy, pandas, pytest and matplotlib
# for Debian's /usr/bin/python3, and Dask's distributed and optuna for its
# sweeps and searches on a cluster), and
# the npm packages of web/ at the versions web/package-lock.json pins
# (uPlot, embedded in the HTML reports; playwright-core, which drives
# Chromium in the browser tests). No browser is ever downloaded.
set -euo pipefail
cd "$(dirname "$0")/.."

# Debian's Chromium, major version 156, for the browser tests.
chromium_version='156.*'

packages=(cmake make g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev zlib1g-dev
          libcli11-dev libtomlplusplus-dev nlohmann-json3-dev libfmt-dev libre2-dev libboost-dev
          valgrind cppcheck clang-format pkg-config chromium fonts-dejavu-core
          pybind11-dev python3-dev python3-numpy python3-pandas python3-pytest python3-matplotlib
          python3-distributed python3-optuna libmosquitto-dev mosquitto python3-tqdm)

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  install=()
  for p in "${missing[@]}"; do
    if [ "$p" = chromium ]; then install+=("chromium=$chromium_version"); else install+=("$p"); fi
  done
  $sudo apt-get update
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${install[@]}"
fi

# The npm packages, exactly as web/package-lock.json pins them; npm ci runs
# only when what web/node_modules holds differs from the lock file.
if ! command -v npm >/dev/null 2>&1 || ! command -v node >/dev/null 2>&1; then
  echo "setup-packages: Node.js 20 or later with npm is needed for web/ (uPlot, playwright-core)" >&2
  exit 1
fi
installed_matches_lock() {
  node -e '
    const fs = require("fs");
    const lock = JSON.parse(fs.readFileSync("web/package-lock.json", "utf8")).packages;
    for (const [where, entry] of Object.entries(lock)) {
      if (!where) continue;
      const file = "web/" + where + "/package.json";
      if (!fs.existsSync(file) || JSON.parse(fs.readFileSync(file, "utf8")).version !== entry.version) process.exit(1);
    }' 2>/dev/null
}
if ! installed_matches_lock; then
  echo "installing the npm packages of web/ (npm ci)"
  PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --prefix web --no-audit --no-fund --ignore-scripts
fi
