#!/usr/bin/env bash
# Builds KaMsUtil.dll, KaZlib.dll and VtrlSrv.dll with MinGW-w64 in build-win/ and runs their
# test under Wine in a fresh, headless prefix that is removed afterwards: registration with the
# system's regsvr32, the upload and download objects called late-bound through the registered
# type library, unregistration leaving no key; then a JScript file under Wine's cscript that
# binds late to the download object.
#
# Installs what it needs first (safe to run again). libdeflate has no package for the cross
# compiler: its source comes from Debian's source package, kept with the Korean locale that
# gives Wine its code page 949 in ~/.cache/vantrel-win (VANTREL_WIN_CACHE chooses another place).
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64
  libz-mingw-w64-dev
  wine wine64 wine64-tools
  locales
  cmake ninja-build
)
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "test-windows: installing ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}"
fi

cache=${VANTREL_WIN_CACHE:-$HOME/.cache/vantrel-win}
mkdir -p "$cache"

# libdeflate's release as Debian ships it, through a source list of this script's own, so that
# the system's apt sources stay as they are.
libdeflate_dir=$(find "$cache" -maxdepth 1 -type d -name 'libdeflate-*' | sort | tail -n 1)
if [ -z "$libdeflate_dir" ]; then
  apt_dir=$cache/apt
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/parts"
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg]" \
    "http://deb.debian.org/debian $codename main" >"$apt_dir/sources.list"
  apt_opts=(-qq -o "Dir::Etc::SourceList=$apt_dir/sources.list" -o "Dir::Etc::SourceParts=$apt_dir/parts"
            -o "Dir::State::Lists=$apt_dir/lists")
  apt-get "${apt_opts[@]}" update
  (cd "$apt_dir" && apt-get "${apt_opts[@]}" source --download-only libdeflate 2>/dev/null)
  tar -xzf "$(ls "$apt_dir"/libdeflate_*.orig.tar.gz | tail -n 1)" -C "$cache"
  libdeflate_dir=$(find "$cache" -maxdepth 1 -type d -name 'libdeflate-*' | sort | tail -n 1)
fi

# Wine takes its ANSI code page from the locale: ko_KR.UTF-8 gives 949, the system's own.
locale_dir=$cache/locale
if [ ! -d "$locale_dir/ko_KR.UTF-8" ]; then
  mkdir -p "$locale_dir"
  localedef -i ko_KR -f UTF-8 "$locale_dir/ko_KR.UTF-8"
fi

# Optimised as the Linux build, without debug information, which made much of the compile and
# static link time.
cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG" \
  "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG" -DLIBDEFLATE_SOURCE_DIR="$libdeflate_dir" >/dev/null
nice -n 10 cmake --build build-win -j 2

# VtrlSrv.dll exports its four entry points and nothing else.
exports=$(x86_64-w64-mingw32-objdump -p build-win/bin/VtrlSrv.dll |
  sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | tail -n +2 | awk 'NF {print $NF}' | sort |
  tr '\n' ' ')
if [ "$exports" != "DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer " ]; then
  echo "test-windows: VtrlSrv.dll exports: $exports" >&2
  exit 1
fi

prefix=$(mktemp -d "${TMPDIR:-/tmp}/vantrel-wine.XXXXXX")
cleanup() {
  WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
  rm -rf "$prefix"
}
trap cleanup EXIT
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
unset DISPLAY WAYLAND_DISPLAY
# The locale goes to Wine only (this shell cannot load it from LOCPATH).
wine=(env LOCPATH="$locale_dir" LANG=ko_KR.UTF-8 LC_ALL=ko_KR.UTF-8 wine)
"${wine[@]}" wineboot -i >/dev/null 2>&1

body="Z:$PWD/tests/server/bodies/firefox_949.body"
"${wine[@]}" build-win/bin/vtrlsrv_wine_test.exe "${body//\//\\}"

dll='Z:'"${PWD//\//\\}"'\build-win\bin\VtrlSrv.dll'
"${wine[@]}" regsvr32 /s "$dll"
script='Z:'"${PWD//\//\\}"'\tests\windows\download_late_bound.js'
answers=$("${wine[@]}" cscript //nologo "$script" | tr -d '\r' | tr '\n' ' ')
"${wine[@]}" regsvr32 /s /u "$dll"
if [ "$answers" != "8000ffff 800a01b6 ok " ]; then
  echo "test-windows: cscript gave: $answers" >&2
  exit 1
fi
echo "test-windows: cscript bound late to Vantrel.FileDownload"
