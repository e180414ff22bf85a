#!/usr/bin/env bash
# The detector as another project uses it. Installs a build into a temporary
# prefix and checks what lands there: the files (public headers only), each
# installed header compiled alone in an otherwise empty unit, the example
# consumer (examples/consumer) built against the CMake package and run on
# the generated recordings with the same falls as the installed bench, and the
# pkg-config file (version, flags, a build of the consumer with them).
#
#   scripts/consumer.sh [BUILD_DIR]
#
# BUILD_DIR (default build) is configured and built first when needed, with
# the options of scripts/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}
cmake -S . -B "$build" -DTUMBLEWATCH_WERROR=ON >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/tumblewatch-consumer-XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null

fail() {
  echo "consumer: $*" >&2
  exit 1
}

# What the prefix holds. The library directory is the one of the build's
# configuration (lib, or lib/<multiarch> for a /usr prefix).
pc=$(find "$prefix" -name tumblewatch.pc)
[ -n "$pc" ] || fail "no tumblewatch.pc installed"
libdir=$(dirname "$(dirname "$pc")")
for f in bin/tilt_bench "${libdir#"$prefix"/}/libtumblewatch.a" \
         "${libdir#"$prefix"/}/cmake/Tumblewatch/TumblewatchConfig.cmake" \
         "${libdir#"$prefix"/}/cmake/Tumblewatch/TumblewatchConfigVersion.cmake" \
         "${libdir#"$prefix"/}/cmake/Tumblewatch/TumblewatchTargets.cmake"; do
  [ -f "$prefix/$f" ] || fail "not installed: $f"
done
# The workbench program installs with the bench when the build has it.
targets=$(cmake --build "$build" --target help 2>/dev/null || true)
if grep -qx '\.\.\. tumblewatch_cli' <<<"$targets"; then
  [ -f "$prefix/bin/tumblewatch" ] || fail "not installed: bin/tumblewatch"
fi
# The Python package installs where the interpreter looks below the prefix,
# and imports from there (from another folder, with nothing else on the path).
if grep -qx '\.\.\. _tumblewatch' <<<"$targets"; then
  site=$(sed -n 's/^TUMBLEWATCH_PYTHON_INSTALL_DIR:STRING=//p' "$build/CMakeCache.txt")
  python=$(sed -n 's/^Python_EXECUTABLE:[A-Z]*=//p' "$build/CMakeCache.txt")
  for f in __init__.py __main__.py py.typed _tumblewatch.pyi _config.pyi; do
    [ -f "$prefix/$site/tumblewatch/$f" ] || fail "not installed: $site/tumblewatch/$f"
  done
  found=$(cd "$work" && PYTHONPATH="$prefix/$site" "$python" -c \
    'import tumblewatch; print(tumblewatch.__file__, tumblewatch.version())')
  [ "$found" = "$prefix/$site/tumblewatch/__init__.py $("$prefix/bin/tilt_bench" --version)" ] ||
    fail "the installed Python package does not import as itself: $found"
  command=$(cd "$work" && PYTHONPATH="$prefix/$site" "$python" -m tumblewatch --version)
  [[ "$command" == *"($("$prefix/bin/tilt_bench" --version))" ]] ||
    fail "python3 -m tumblewatch --version of the installed package says: $command"
  echo "consumer: Python package installed in $site"
fi
headers=$(cd "$prefix/include" && find . -type f | sort | tr '\n' ' ')
[ "$headers" = "./tumblewatch/params.h ./tumblewatch/tumblewatch.h " ] ||
  fail "installed headers are not exactly the public ones: $headers"

# Each header compiles on its own, included twice, as C++11 (the standard
# the package asks for) and C++17.
for h in "$prefix"/include/tumblewatch/*.h; do
  name=tumblewatch/$(basename "$h")
  printf '#include <%s>\n#include <%s>\n' "$name" "$name" >"$work/alone.cpp"
  for std in c++11 c++17; do
    c++ -std=$std -Wall -Wextra -Wpedantic -Werror -fsyntax-only -I"$prefix/include" "$work/alone.cpp" ||
      fail "$name does not compile alone as $std"
  done
done

# The project's generated recordings, each as a binary dataset and its CSV
# twin with the same samples. The bench prints the falls of a CSV; the
# consumer reads the dataset and must print the same ones.
mkdir "$work/run"
"$build/make_recordings" "$work/run" >/dev/null
expected_falls() {
  (cd "$work/run" && "$prefix/bin/tilt_bench" "$1.csv") | grep -E '^[0-9]{4,} : Fall' || true
}
check_consumer() {
  local program=$1 falls=0 name
  for bin in "$work"/run/*.bin; do
    name=$(basename "$bin" .bin)
    diff <(expected_falls "$name") <("$program" "$bin") ||
      fail "$program: other falls than the bench's in $name"
    falls=$((falls + $(expected_falls "$name" | wc -l)))
  done
  [ "$falls" -gt 0 ] || fail "the recordings gave no fall to compare"
  echo "consumer: $(basename "$program") reports the bench's $falls falls"
}

# The CMake package.
cmake -S examples/consumer -B "$work/consumer" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_CXX_FLAGS="-Wall -Wextra -Wpedantic -Werror" >/dev/null
cmake --build "$work/consumer" >/dev/null
check_consumer "$work/consumer/consumer"
if "$work/consumer/consumer" "$work/run/walking.csv" >/dev/null 2>&1; then
  fail "the consumer took a CSV for a dataset"
fi

# The pkg-config file: the project's version, and flags that build the
# consumer.
export PKG_CONFIG_PATH=$libdir/pkgconfig
version=$(pkg-config --modversion tumblewatch)
[ "$("$prefix/bin/tilt_bench" --version)" = "J6-Tumblewatch-$version" ] ||
  fail "pkg-config version $version is not the library's"
read -r -a flags <<<"$(pkg-config --cflags --libs tumblewatch)"
c++ -Wall -Wextra -Wpedantic -Werror examples/consumer/main.cpp "${flags[@]}" -o "$work/consumer_pc"
check_consumer "$work/consumer_pc"
echo "consumer: installed package, headers and pkg-config file ok"
