#!/usr/bin/env bash
# Builds the Debian package build-package/valve-panel_<version>_amd64.deb,
# lists its contents, checks that everything it must hold is there, and runs
# lintian on it (which must report no error). Dependencies are computed from
# the binaries by dpkg-shlibdeps; the compiler and linker flags are Debian's
# own (dpkg-buildflags), with every hardening feature on.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
# What only packaging needs: dpkg-shlibdeps and dpkg-buildflags, and lintian.
for package in dpkg-dev lintian; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends dpkg-dev lintian
    break
  fi
done

eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
export CXXFLAGS="$CXXFLAGS $CPPFLAGS"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
dir=build-package
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVALVE_BUILD_TESTS=OFF \
  -DCMAKE_INSTALL_PREFIX=/usr -DVALVE_UDEV_RULES_DIR=/usr/lib/udev/rules.d \
  -DVALVE_SYSTEMD_UNIT_DIR=/usr/lib/systemd/system "${launcher[@]}"
cmake --build "$dir" -j"$(nproc)"
rm -f "$dir"/valve-panel_*.deb
(cd "$dir" && cpack -G DEB)
deb=$(ls "$dir"/valve-panel_*_amd64.deb)

echo "== $deb"
dpkg-deb --info "$deb"
contents=$(dpkg-deb --contents "$deb")
echo "$contents"
expected=(
  usr/bin/valve-panel usr/bin/valve-panel-demo
  usr/share/applications/valve-panel.desktop usr/share/icons/hicolor/256x256/apps/valve-panel.png
  usr/lib/udev/rules.d/60-valve-panel-ftdi.rules usr/lib/systemd/system/valvectl-sila.service
  usr/share/man/man1/valve-panel.1.gz usr/share/man/man1/valve-panel-demo.1.gz
  usr/share/doc/valve-panel/copyright usr/share/doc/valve-panel/changelog.gz
)
if [ -f app/valvectl.cpp ]; then
  expected+=(usr/bin/valvectl usr/share/man/man1/valvectl.1.gz)
fi
missing=0
for path in "${expected[@]}"; do
  if ! grep -q " \./$path\$" <<<"$contents"; then
    echo "missing from the package: /$path" >&2
    missing=1
  fi
done
depends=$(dpkg-deb --field "$deb" Depends)
if ! grep -q libqt6widgets6 <<<"$depends"; then
  echo "the dependencies were not computed from the binaries: '$depends'" >&2
  missing=1
fi
# The Runs window draws with Qt Charts.
if ! grep -q libqt6charts6 <<<"$depends"; then
  echo "the package does not depend on Qt Charts: '$depends'" >&2
  missing=1
fi
[ "$missing" -eq 0 ]

echo "== lintian"
lintian --fail-on error --info "$deb"
echo "package ok: $deb"
