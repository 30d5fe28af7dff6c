#!/usr/bin/env bash
# Builds every target and runs every test: unit and integration tests under AddressSanitizer and
# UndefinedBehaviorSanitizer, the threaded ones (*_threaded_test.cpp) under ThreadSanitizer, the
# fuzz targets (corpus replay and a short run), the Windows program under Wine, and the panel in
# Chromium. Installs what it needs on a fresh Debian machine first. Every stage has a time limit,
# so a hung test fails the run instead of stalling it. Builds wait for any other build of the same
# tree (tools/build_preset.sh); ./run.sh builds in a tree of its own.
set -uo pipefail
cd "$(dirname "$0")"
ROOT=$PWD
export CCACHE_BASEDIR=$ROOT CCACHE_DIR=${CCACHE_DIR:-$HOME/.cache/ccache}
FUZZ_SECONDS=${TW_FUZZ_SECONDS:-15}

tools/ensure_packages.sh test || exit 1

passed=0
failed=0
failures=()
stage() { echo; echo "==== $*"; }
record() {  # record <passed> <failed> <name>
  passed=$((passed + $1))
  failed=$((failed + $2))
  if (($2 > 0)); then failures+=("$3"); fi
}

build() {  # build <preset> [targets...]: configures when needed; one build per tree at a time
  tools/build_preset.sh "$@"
}

gtest_counts() {  # gtest_counts <json report>
  python3 - "$1" <<'PY'
import json, sys
try:
    report = json.load(open(sys.argv[1]))
    print(report["tests"] - report["failures"] - report.get("disabled", 0), report["failures"])
except Exception:
    print(0, 1)
PY
}

mkdir -p build

stage "Linux tests (AddressSanitizer, UndefinedBehaviorSanitizer)"
if build linux-debug; then
  # No OS header in the system's code, and every wrong-way include of tests/layers fails to build.
  if tools/check_layers.sh build/linux-debug; then record 1 0 layers; else record 0 1 layers; fi
  rm -f build/linux-debug/report.json  # a run that dies must not be counted from the last report
  timeout 1200 ./build/linux-debug/tw_tests --gtest_brief=1 --gtest_output=json:build/linux-debug/report.json
  read -r ok bad < <(gtest_counts build/linux-debug/report.json)
  record "$ok" "$bad" "linux tests"
else
  record 0 1 "linux-debug build"
fi

stage "Soak: seeded histories of the whole program (AddressSanitizer, UndefinedBehaviorSanitizer)"
# Every kept regression seed, then new seeds until about a minute has passed (tools/soak.sh runs
# longer and keeps what fails). A failure prints its seed, step and history.
SOAK_SECONDS=${TW_SOAK_SECONDS:-50}
if [[ -x build/linux-debug/tw_soak ]]; then
  timeout 600 ./build/linux-debug/tw_soak --seeds tests/soak/regression_seeds.txt \
    --first-seed "$(date +%s)" --seconds "$SOAK_SECONDS" >build/linux-debug/soak.log 2>&1
  soak_status=$?
  grep -E '^(SOAK FAILURE|  - |replay:|soak:)|Sanitizer|runtime error' build/linux-debug/soak.log
  if ((soak_status == 0)); then record 1 0 soak; else record 0 1 "soak (build/linux-debug/soak.log)"; fi
else
  record 0 1 "soak build"
fi

stage "Threaded tests (ThreadSanitizer)"
# The ThreadSanitizer build's tw_tests holds the threaded tests (every *_threaded_test.cpp), all run.
if build linux-tsan tw_tests tw_soak; then
  rm -f build/linux-tsan/report.json
  # TSan cannot map memory with high-entropy ASLR on newer kernels.
  timeout 1200 setarch "$(uname -m)" -R ./build/linux-tsan/tw_tests --gtest_brief=1 \
    --gtest_output=json:build/linux-tsan/report.json
  read -r ok bad < <(gtest_counts build/linux-tsan/report.json)
  record "$ok" "$bad" "threaded tests"
  # A short soak of new seeds: the whole program's threads together.
  if timeout 300 setarch "$(uname -m)" -R ./build/linux-tsan/tw_soak --first-seed "$(date +%s)" \
       --seconds "${TW_SOAK_TSAN_SECONDS:-20}" --steps 60 >build/linux-tsan/soak.log 2>&1; then
    record 1 0 "soak under ThreadSanitizer"
  else
    grep -E '^(SOAK FAILURE|  - |replay:|soak:)|WARNING: ThreadSanitizer' build/linux-tsan/soak.log
    record 0 1 "soak under ThreadSanitizer (build/linux-tsan/soak.log)"
  fi
else
  record 0 1 "linux-tsan build"
fi

stage "Linux release: the app and the benchmarks"
if build linux-release; then record 1 0 release; else record 0 1 "linux-release build"; fi

stage "Thread-safety analysis (Clang) of the firmware side"
# The fuzz tree is built by clang, which checks every use of the firmware lock in src/flash
# (-Wthread-safety, an error like every warning).
if build fuzz tw_flash; then record 1 0 "thread safety"; else record 0 1 "thread safety"; fi

stage "Fuzz targets: corpus replay and ${FUZZ_SECONDS} s each"
if build fuzz; then
  for target in build/fuzz/*_fuzz; do
    name=$(basename "$target" _fuzz)
    corpus=fuzz/corpus/$name
    scratch=$(mktemp -d)
    ok=1
    if [[ -d $corpus ]] && compgen -G "$corpus/*" >/dev/null; then
      "$target" "$corpus"/* >"build/fuzz/$name.replay.log" 2>&1 || ok=0
    fi
    if ((ok)); then
      "$target" -max_total_time="$FUZZ_SECONDS" -rss_limit_mb=2048 -timeout=10 \
        -artifact_prefix="build/fuzz/$name-" "$scratch" $([[ -d $corpus ]] && echo "$corpus") \
        >"build/fuzz/$name.run.log" 2>&1 || ok=0
    fi
    rm -rf "$scratch"
    if ((ok)); then
      echo "fuzz $name: ok"
      record 1 0 "fuzz $name"
    else
      echo "fuzz $name: FAILED (see build/fuzz/$name.*.log)"
      tail -30 "build/fuzz/$name."*.log
      record 0 1 "fuzz $name"
    fi
  done
else
  record 0 1 "fuzz build"
fi

stage "Product builds: what configuring refuses, and Tarnwick.exe with the real firmware"
# The refusals each configure a tree of their own; the product tree is built for the Wine tests
# (tests/wine/test_product_build.py), apart from the test build's.
timeout 900 python3 tests/build/product_configure.py 2>&1 | tee build/product-configure.log
read -r ok bad < <(sed -n 's/^product configure: \([0-9]*\) passed, \([0-9]*\) failed$/\1 \2/p' build/product-configure.log | tail -1)
record "${ok:-0}" "${bad:-1}" "product configure"
firmware=tests/data/real-firmware/korrinlink-0.9.7-rp2350-arm-s.uf2
digest=$(awk -v name="$(basename $firmware)" '$2 == name {print $1}' tests/data/real-firmware/SHA256SUMS)
rm -f build/windows-product/Tarnwick.exe  # a failed build must leave nothing for the Wine tests
if cmake --preset windows-release -B build/windows-product -DTW_FIRMWARE_FILE="$ROOT/$firmware" \
     -DTW_FIRMWARE_SHA256="$digest" -DTW_UPDATE_HOST=firmware.tarnwick.net \
     >build/windows-product.configure.log 2>&1 &&
   timeout 1800 cmake --build build/windows-product >build/windows-product.build.log 2>&1; then
  record 1 0 "product build"
else
  tail -30 build/windows-product.configure.log build/windows-product.build.log
  record 0 1 "product build"
fi

stage "Windows build (MinGW-w64) and its imports"
if build windows-release; then
  bad_imports=$(x86_64-w64-mingw32-objdump -p build/windows-release/Tarnwick.exe | awk '/DLL Name/ {print $3}' |
    grep -viE '^(kernel32|user32|gdi32|shell32|advapi32|ole32|oleaut32|shlwapi|setupapi|hid|cfgmgr32|winusb|ws2_32|winhttp|bcrypt|crypt32|version|comctl32|msvcrt|ntdll|imm32|uxtheme|dwmapi|userenv)\.dll$')
  if [[ -z $bad_imports ]]; then
    record 1 0 imports
  else
    echo "Tarnwick.exe imports non-system DLLs: $bad_imports"
    record 0 1 imports
  fi
  stage "Wine tests"
  wine_log=build/wine-tests.log
  timeout 2400 python3 tests/wine/run.py 2>&1 | tee "$wine_log"
  read -r ok bad < <(sed -n 's/^wine: \([0-9]*\) passed, \([0-9]*\) failed$/\1 \2/p' "$wine_log" | tail -1)
  record "${ok:-0}" "${bad:-1}" "wine tests"
else
  record 0 1 "windows build"
fi

if [[ -f tests/browser/package.json ]]; then
  stage "Browser tests (Chromium)"
  # Exactly what the committed lockfile says, into a fresh node_modules.
  if (cd tests/browser && npm ci --no-audit --no-fund) >build/npm-ci.log 2>&1; then
    browser_log=build/browser-tests.log
    (cd tests/browser && TW_APP="$ROOT/build/linux-release/tarnwick" timeout 900 node --test 2>&1) | tee "$browser_log"
    runner_status=${PIPESTATUS[0]}
    ok=$(sed -n 's/^# pass \([0-9]*\)$/\1/p' "$browser_log" | tail -1)
    bad=$(sed -n 's/^# fail \([0-9]*\)$/\1/p' "$browser_log" | tail -1)
    # Tests of a suite whose set-up failed are reported as cancelled: they count as failed.
    cancelled=$(sed -n 's/^# cancelled \([0-9]*\)$/\1/p' "$browser_log" | tail -1)
    bad=$((${bad:-1} + ${cancelled:-0}))
    if ((runner_status != 0 && bad == 0)); then bad=1; fi
    record "${ok:-0}" "$bad" "browser tests"
  else
    tail -20 build/npm-ci.log
    record 0 1 "npm ci"
  fi
fi

echo
if ((${#failures[@]})); then echo "Failed: ${failures[*]}"; fi
echo "$passed passed, $failed failed"
((failed == 0))
