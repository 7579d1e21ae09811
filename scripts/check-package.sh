#!/usr/bin/env bash
# Builds the Debian package and checks it without installing it: scripts/check-package.sh [OUTDIR]
# Fails when the version of the build, the changelog and both programs disagree, when a file is
# missing from the package, on a lintian error, when the desktop entry, the AppStream metadata or
# a manual page does not pass its checker, or when the packaged vrel, extracted into a temporary
# folder, does not copy a file byte for byte.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-build/package}")
scripts/package.sh "$out"

fail() {
  echo "check-package: $*" >&2
  exit 1
}

version=$(sed -n 's/^project(Mendra VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
changelog_version=$(dpkg-parsechangelog -S Version)
[ "$version" = "$changelog_version" ] ||
  fail "CMakeLists.txt says version $version, debian/changelog $changelog_version"
deb="$out/mendra_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || fail "no package $deb"

echo "== contents =="
dpkg-deb -c "$deb"
contents=$(dpkg-deb -c "$deb" | awk '{print $NF}')
app_id=org.mendra.Mendra
for file in usr/bin/mendra usr/bin/vrel \
  "usr/share/applications/$app_id.desktop" "usr/share/metainfo/$app_id.metainfo.xml" \
  usr/share/icons/hicolor/{16x16,24x24,32x32,48x48}/apps/mendra.png \
  usr/share/icons/hicolor/scalable/apps/mendra.svg \
  usr/share/man/man1/mendra.1.gz usr/share/man/man1/vrel.1.gz \
  usr/share/doc/mendra/README.md usr/share/doc/mendra/copyright \
  usr/share/doc/mendra/changelog.gz; do
  grep -qxF "./$file" <<<"$contents" || fail "the package lacks /$file"
done

echo "== lintian =="
# Errors fail; warnings and the rest are shown.
lintian --fail-on error --info --display-level '>=pedantic' "$deb"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root="$work/root"
dpkg-deb -x "$deb" "$root"

echo "== desktop entry, AppStream metadata, manual pages =="
desktop-file-validate "$root/usr/share/applications/$app_id.desktop"
appstreamcli validate --no-net "$root/usr/share/metainfo/$app_id.metainfo.xml"
for page in mendra vrel; do
  # man prints groff's warnings (lines it cannot break, unknown macros) on standard error.
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l \
    "$root/usr/share/man/man1/$page.1.gz" 2>&1 >"$work/$page.txt")
  [ -z "$warnings" ] || fail "$page.1: $warnings"
  grep -q "^NAME" "$work/$page.txt" || fail "$page.1 renders without its NAME section"
done

echo "== the packaged programs =="
for program in mendra vrel; do
  said=$("$root/usr/bin/$program" --version)
  [ "$said" = "$program (Mendra) $version" ] || fail "$program --version says '$said'"
  "$root/usr/bin/$program" --help | grep -q "^Usage: $program" || fail "$program --help"
done
# A copy with the progress file in the temporary folder: once in the options form with paths
# that hold ';' and blanks, once in the joined form.
export XDG_CONFIG_HOME="$work/config"
head -c $((3 * 1024 * 1024 + 17)) /dev/urandom >"$work/disc; one.iso"
"$root/usr/bin/vrel" --source "$work/disc; one.iso" --target "$work/rescued; one.iso" \
  --block-size 4096
cmp "$work/disc; one.iso" "$work/rescued; one.iso" || fail "vrel's copy differs from the source"
cp "$work/disc; one.iso" "$work/disc two.iso"
"$root/usr/bin/vrel" "$work/disc two.iso;$work/rescued two.iso;0"
cmp "$work/disc two.iso" "$work/rescued two.iso" || fail "vrel's copy differs from the source"
grep -qx 'Status=Finished' "$XDG_CONFIG_HOME/Vrel/settings.ini" || fail "no Status=Finished"
echo "check-package: $deb passes"
