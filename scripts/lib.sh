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
