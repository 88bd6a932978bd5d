# Shared by scripts/zol and scripts/test: installs the Debian packages the build needs when they are
# missing, then configures and builds one build tree incrementally.
# Sourced, not run: callers set ZOL_BUILD_DIR / ZOL_BUILD_TYPE / ZOL_CMAKE_FLAGS before calling zol_build.

ZOL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# The packages a build needs; keep this list the only place they are named.
# python3, unicode-data and iso-codes let the tests check the committed generated tables against their
# generators; libssl-dev gives the platform layer libcrypto's digests; libcurl4-openssl-dev its HTTP client.
ZOL_PACKAGES=(cmake ninja-build g++ libgtest-dev python3 unicode-data iso-codes libssl-dev libcurl4-openssl-dev)

# Installs the given packages (the build's by default) that are missing.
zol_install_missing() {
  local wanted=("$@") missing=() p
  [ ${#wanted[@]} -eq 0 ] && wanted=("${ZOL_PACKAGES[@]}")
  for p in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "installing: ${missing[*]}" >&2
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

zol_build() {
  local dir=${ZOL_BUILD_DIR:-$ZOL_ROOT/build}
  local type=${ZOL_BUILD_TYPE:-Release}
  zol_install_missing
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$ZOL_ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$type" ${ZOL_CMAKE_FLAGS:-} >/dev/null
  fi
  # The progress lines are dropped; the build's own status is the pipeline's (a failed build must fail).
  cmake --build "$dir" -- -k 0 | { grep -v '^\[[0-9]*/[0-9]*\]' || true; }
}

# The programs whose runs the profile-guided build is optimised for: the benchmark workloads.
ZOL_TRAINING=(fib trees loop deflate map parse sort strbuild)

# A release build optimised with the compiler's profile feedback, in ZOL_BUILD_DIR (default build-pgo): an
# instrumented build beside it (<dir>-gen) runs the training programs, then the real build reads their
# profile. Whenever the instrumented program changed, the profile is taken again and the real build redone
# from scratch (its objects do not depend on the profile as far as the build tool knows).
zol_build_pgo() {
  local dir=${ZOL_BUILD_DIR:-$ZOL_ROOT/build-pgo}
  local gen=$dir-gen data=$dir-gen/profile b
  zol_install_missing
  if [ ! -f "$gen/build.ninja" ]; then
    cmake -S "$ZOL_ROOT" -B "$gen" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_CXX_FLAGS="-fprofile-generate=$data -fprofile-prefix-path=$gen -fprofile-update=prefer-atomic" \
      -DCMAKE_EXE_LINKER_FLAGS=-fprofile-generate >/dev/null
  fi
  cmake --build "$gen" --target zol -- -k 0 | { grep -v '^\[[0-9]*/[0-9]*\]' || true; }
  if [ ! -f "$dir/profile.stamp" ] || [ "$gen/zol" -nt "$dir/profile.stamp" ]; then
    rm -rf "$data"
    for b in "${ZOL_TRAINING[@]}"; do "$gen/zol" "$ZOL_ROOT/bench/$b.zol" >/dev/null; done
    # Functions the training never ran are compiled as usual, not as if they were never called.
    cmake -S "$ZOL_ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release ${ZOL_CMAKE_FLAGS:-} \
      -DCMAKE_CXX_FLAGS="-fprofile-use=$data -fprofile-prefix-path=$dir -fprofile-partial-training -Wno-missing-profile" \
      >/dev/null
    cmake --build "$dir" --target clean >/dev/null
    touch "$dir/profile.stamp"
  fi
  cmake --build "$dir" -- -k 0 | { grep -v '^\[[0-9]*/[0-9]*\]' || true; }
}
