#!/usr/bin/env bash
# Installs what is missing, builds against Qt 5, and runs every test; builds
# against Qt 6 and runs every test again, and checks that its command-line
# program makes the same files as the Qt 5 one, byte for byte; then builds a
# third time with AddressSanitizer and UndefinedBehaviorSanitizer and runs
# every test again, so memory errors, leaks and undefined behaviour fail as
# well. The tests need no display: they run on Qt's offscreen platform.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
TW_WITH_TILED=1 TW_WITH_GODOT3=1 TW_WITH_TEST_TOOLS=1 "$root/scripts/install-deps.sh"
"$root/scripts/build.sh" -DTILEWRIGHT_WERROR=ON
build="${TW_BUILD_DIR:-$root/build}"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"

# The Qt 6 pass; cli_sameAsReference compares with the Qt 5 build's program.
# The benchmarks and the fuzzer stay out of it, as out of the sanitizer pass.
qt6="${build%/}-qt6"
cmake -S "$root" -B "$qt6" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTILEWRIGHT_QT6=ON -DTILEWRIGHT_WERROR=ON \
  -DTILEWRIGHT_BUILD_BENCH=OFF -DTILEWRIGHT_BUILD_FUZZ=OFF \
  -DTILEWRIGHT_REFERENCE_CLI="$build/bin/tilewright-cli" >/dev/null
cmake --build "$qt6" -j"$(nproc)"
ctest --test-dir "$qt6" --output-on-failure -j"$(nproc)"

# The sanitizer pass. The benchmarks and the fuzzer test nothing here, so
# they stay out of it to keep CI short.
asan="${build%/}-asan"
cmake -S "$root" -B "$asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTILEWRIGHT_SANITIZE=ON -DTILEWRIGHT_WERROR=ON \
  -DTILEWRIGHT_BUILD_BENCH=OFF -DTILEWRIGHT_BUILD_FUZZ=OFF >/dev/null
# Every report aborts, so a finding in a program a test runs (the
# command-line program, the asset program) fails that test too. Qt's
# libraries have no frame pointers, so allocation stacks are unwound the slow
# way: the leak suppression matches a frame inside Qt's offscreen plugin.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:fast_unwind_on_malloc=0:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS="suppressions='$root/tests/lsan.supp'"
# The build runs the instrumented asset program, hence the options before it.
cmake --build "$asan" -j"$(nproc)"
ctest --test-dir "$asan" --output-on-failure -j"$(nproc)"
