#!/usr/bin/env bash
# Builds the FernPoint Debian package.
#
#   scripts/package.sh [BUILD_DIR [OUTPUT_DIR]]
#
# Without BUILD_DIR it makes a Release build of its own in build-package/, with Debian's
# hardening flags. With BUILD_DIR it packages what that (already built) folder holds. The
# package, fernpoint_<version>_<arch>.deb, lands in OUTPUT_DIR (default: the build folder); its
# path is the last line printed.
set -euo pipefail
umask 022

source_dir=$(cd "$(dirname "$0")/.." && pwd)
debian_dir=$source_dir/packaging/debian
die() { echo "package: $*" >&2; exit 1; }

if [ $# -ge 1 ]; then
  build_dir=$(realpath "$1")
  [ -f "$build_dir/CMakeCache.txt" ] || die "$build_dir is not a CMake build folder"
else
  "$source_dir/scripts/setup-debian.sh"
  build_dir=$source_dir/build-package
  export DEB_BUILD_MAINT_OPTIONS=hardening=+all
  cmake -S "$source_dir" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DFERNPOINT_BUILD_TESTS=OFF -DCMAKE_INSTALL_PREFIX=/usr \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)"
  cmake --build "$build_dir"
fi
output_dir=$(realpath "${2:-$build_dir}")

# The changelog names the package's version; it must be the version that was built.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build_dir/CMakeCache.txt")
changelog_version=$(dpkg-parsechangelog -l "$debian_dir/changelog" -S Version)
[ "$version" = "$changelog_version" ] ||
  die "packaging/debian/changelog ends at $changelog_version but the build is $version: add an entry"
SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -l "$debian_dir/changelog" -S Timestamp)
export SOURCE_DATE_EPOCH

# dpkg-shlibdeps and dpkg-gencontrol expect a source tree with debian/ and the package's files in
# debian/<package>; a scratch one keeps their by-products out of the repository.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/debian"
cp "$debian_dir/control" "$debian_dir/changelog" "$work/debian/"
stage=$work/debian/fernpoint
mkdir -m 755 "$stage"

for component in "" system-integration; do
  DESTDIR=$stage cmake --install "$build_dir" --prefix /usr \
    ${component:+--component "$component"} >"$work/install.log" ||
    { cat "$work/install.log" >&2; die "cmake --install failed"; }
done

mapfile -t programs < <(find "$stage/usr/bin" "$stage/usr/libexec" -type f -perm -u+x)
strip --remove-section=.comment --remove-section=.note "${programs[@]}"
find "$stage/usr/share/man" -type f -name '*.[0-9]' -exec gzip -9n {} +
doc=$stage/usr/share/doc/fernpoint
install -d "$doc"
install -m 644 "$debian_dir/copyright" "$doc/copyright"
gzip -9nc "$debian_dir/changelog" >"$doc/changelog.gz"

install -d "$stage/DEBIAN"
install -m 755 "$debian_dir/postinst" "$stage/DEBIAN/postinst"
install -m 755 "$debian_dir/postrm" "$stage/DEBIAN/postrm"
(cd "$stage" && find usr -type f -print0 | LC_ALL=C sort -z | xargs -0 md5sum) >"$stage/DEBIAN/md5sums"

(cd "$work" && dpkg-shlibdeps "${programs[@]/#$work\//}" && dpkg-gencontrol -pfernpoint -Pdebian/fernpoint)

arch=$(dpkg-architecture -qDEB_HOST_ARCH)
mkdir -p "$output_dir"
deb=$output_dir/fernpoint_${version}_${arch}.deb
dpkg-deb --root-owner-group --build "$stage" "$deb" >/dev/null
echo "$deb"
