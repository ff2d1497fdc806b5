#!/usr/bin/env bash
# Builds vidrec and runs every test. Used by CI (.ci/run) and by developers.
set -uo pipefail
cd "$(dirname "$0")/.."
JOBS=$(nproc)
status=0
summary=()

step() { echo; echo "=== $* === (${SECONDS}s in)"; }
record() {  # name rc
  summary+=("$1: $([ "$2" -eq 0 ] && echo ok || echo "FAILED ($2)")")
  [ "$2" -eq 0 ] || status=1
}

step "dependencies"
bash scripts/deps.sh all || { echo "dependency install failed"; exit 1; }

step "armhf sysroot (the board's libraries)"
# The armhf steps need it; the PC's steps go on without it.
if VIDREC_SYSROOT=$(bash scripts/sysroot.sh); then
  export VIDREC_SYSROOT
else
  VIDREC_SYSROOT=""
  record "armhf sysroot" 1
fi

step "build (sim, x86-64)"
cmake -S . -B build-ci -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVIDREC_WERROR=ON >build-ci.cfg.log 2>&1 \
  || { cat build-ci.cfg.log; exit 1; }
cmake --build build-ci -j"$JOBS" 2>&1 | tail -n 20
[ "${PIPESTATUS[0]}" -eq 0 ] || { echo "build failed"; exit 1; }

step "unit tests"
ctest --test-dir build-ci -j"$JOBS" --output-on-failure 2>&1 | tail -n 40
record "unit tests" "${PIPESTATUS[0]}"

step "system tests"
if ls tests/system/test_*.py >/dev/null 2>&1; then
  # test_armhf.py runs the armhf build: its own step below.
  VIDREC_BUILD="$PWD/build-ci" /usr/bin/python3 -m pytest -q tests/system -p no:cacheprovider \
    --ignore=tests/system/test_armhf.py 2>&1 | tail -n 40
  rc=${PIPESTATUS[0]}
  [ "$rc" -eq 5 ] && rc=0   # no test collected is not a failure
  record "system tests" "$rc"
else
  echo "no system tests yet"
fi

step "sanitizers (ASan + UBSan)"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVIDREC_SANITIZE=ON -DVIDREC_BENCH=OFF -DVIDREC_WERROR=ON \
  >build-asan.cfg.log 2>&1 || { cat build-asan.cfg.log; exit 1; }
if cmake --build build-asan -j"$JOBS" >build-asan.log 2>&1; then
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan -j"$JOBS" --output-on-failure 2>&1 | tail -n 40
  record "sanitizer unit tests" "${PIPESTATUS[0]}"
else
  tail -n 40 build-asan.log; record "sanitizer build" 1
fi

step "ThreadSanitizer (3A tests)"
# The 3A framework, its plug-ins and the algorithms meet on the 3A thread and
# on IQ-API callers' threads.
TSAN_TESTS="ut_cus3a ut_ispalgo ut_ae ut_awb ut_af ut_af_loop"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVIDREC_TSAN=ON -DVIDREC_BENCH=OFF -DVIDREC_WERROR=ON \
  >build-tsan.cfg.log 2>&1 || { cat build-tsan.cfg.log; exit 1; }
# shellcheck disable=SC2086
if cmake --build build-tsan -j"$JOBS" --target $TSAN_TESTS >build-tsan.log 2>&1; then
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    ctest --test-dir build-tsan -R "^(${TSAN_TESTS// /|})\$" --output-on-failure 2>&1 | tail -n 40
  record "ThreadSanitizer 3A tests" "${PIPESTATUS[0]}"
else
  tail -n 40 build-tsan.log; record "ThreadSanitizer build" 1
fi

armhf_tests() {
  step "armhf cross build under qemu-arm"
  cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVIDREC_WERROR=ON >build-armhf.cfg.log 2>&1 || { cat build-armhf.cfg.log; record "armhf configure" 1; return; }
  if cmake --build build-armhf -j"$JOBS" >build-armhf.log 2>&1; then
    ctest --test-dir build-armhf -j"$JOBS" --output-on-failure 2>&1 | tail -n 40
    record "armhf unit tests" "${PIPESTATUS[0]}"
    step "emulated system test (armhf vidrec under qemu-arm in the board sandbox)"
    VIDREC_ARMHF_BUILD="$PWD/build-armhf" /usr/bin/python3 -m pytest -q tests/system/test_armhf.py \
      -p no:cacheprovider 2>&1 | tail -n 40
    record "emulated system test" "${PIPESTATUS[0]}"
  else
    tail -n 40 build-armhf.log; record "armhf build" 1
  fi
}

board_build() {
  step "board build (armhf, real device nodes)"
  if cmake -S . -B build-board -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake -DVIDREC_PLATFORM=board \
       -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVIDREC_WERROR=ON >build-board.cfg.log 2>&1 &&
     cmake --build build-board -j"$JOBS" >build-board.log 2>&1; then
    ls -l build-board/dvr/vidrec build-board/tools/ethaddr/ethaddr
    # The shared libraries the board image must hold.
    needed=$(readelf -d build-board/dvr/vidrec | grep NEEDED)
    echo "$needed"
    rc=0
    for lib in libavformat libavcodec librtmp libcivetweb; do
      grep -q "\[$lib\.so" <<<"$needed" || { echo "board vidrec does not link $lib"; rc=1; }
    done
    record "board build" $rc
  else
    tail -n 40 build-board.cfg.log build-board.log; record "board build" 1
  fi
}

if [ -n "$VIDREC_SYSROOT" ]; then
  armhf_tests
  board_build
fi

if [ -x scripts/fuzz.sh ]; then
  step "fuzzing (bounded)"
  bash scripts/fuzz.sh
  record "fuzzing" $?
fi

echo
echo "=== summary ==="
printf '%s\n' "${summary[@]}"
exit $status
