#!/usr/bin/env bash
# Builds the Debian package varnel_VERSION_amd64.deb in the top folder: the optimised build
# (preset "package": the release build with the prefix /usr, in build/package) with Debian's
# hardening flags, installed and packed by CPack with stripped programs. Prints the path.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/install-deps.sh

# Debian's compiler and linker flags for packages (stack protector, fortify, relro, bindnow,
# PIE); no debug information, since the programs are stripped and there is no debug package.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
cxxflags=${cxxflags//-g /}
ldflags=$(dpkg-buildflags --get LDFLAGS)

cmake --preset package -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >/dev/null
cmake --build --preset package

rm -f build/package/varnel_*.deb
(cd build/package && cpack -G DEB >/dev/null)
debs=(build/package/varnel_*_amd64.deb)
[ -e "${debs[0]}" ] || { echo "cpack made no package" >&2; exit 1; }
cp "${debs[0]}" .
basename "${debs[0]}"
