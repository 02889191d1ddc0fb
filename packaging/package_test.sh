#!/bin/sh
# Builds the Debian package from a built tree, installs it with dpkg, runs the
# installed program (version, a conversion in option mode and one without
# options, both with no display) and removes the package again.
#   package_test.sh BUILD_DIR CPACK
# Exits 77 (skipped) unless run as root on a machine with dpkg.
set -eu
build=$1
cpack=$2

if [ "$(id -u)" != 0 ] || ! command -v dpkg >/dev/null 2>&1; then
  echo "skipped: installing a package needs root and dpkg"
  exit 77
fi
# Test runs from other build trees on this machine wait for each other.
exec 9>/tmp/scrivane-package-test.lock
if command -v flock >/dev/null 2>&1; then flock 9; fi
if dpkg-query -W -f='${Status}' scrivane 2>/dev/null | grep -q 'ok installed'; then
  echo "skipped: a scrivane package is installed already; not touching it"
  exit 77
fi

work=$(mktemp -d)
installed=0
cleanup() {
  if [ "$installed" = 1 ]; then dpkg -r scrivane >/dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAILED: $*"
  exit 1
}

(cd "$build" && "$cpack" -G DEB -B "$work/package" --config CPackConfig.cmake) >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack could not build the package"; }
deb=$(ls "$work"/package/scrivane_*.deb)
echo "built $(basename "$deb")"
dpkg-deb --field "$deb" Package Version Depends

dpkg -i "$deb" || fail "dpkg -i"
installed=1

for f in /usr/bin/scrivane /usr/share/man/man1/scrivane.1.gz /usr/share/applications/scrivane.desktop \
  /usr/share/icons/hicolor/48x48/apps/scrivane.png /usr/share/icons/hicolor/256x256/apps/scrivane.png; do
  [ -f "$f" ] || fail "$f is not installed"
done

version=$(/usr/bin/scrivane --version) || fail "scrivane --version exited with $?"
[ "$version" = "scrivane 1.1" ] || fail "scrivane --version printed '$version'"
echo "$version"

printf 'Hello from the package\nsecond line\n' >"$work/hello.txt"
cp "$work/hello.txt" "$work/plain.txt"
(
  unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
  /usr/bin/scrivane -q --page a4 "$work/hello.txt" </dev/null || fail "option mode exited with $?"
  /usr/bin/scrivane "$work/plain.txt" </dev/null || fail "a conversion without options exited with $?"
)
for pdf in "$work/hello.pdf" "$work/plain.pdf"; do
  [ "$(head -c 8 "$pdf")" = "%PDF-1.2" ] || fail "$pdf is not a PDF"
done
grep -a -q 'MediaBox \[ 0 0 595 842 \]' "$work/hello.pdf" || fail "--page a4 did not reach the PDF"
grep -a -q 'Hello from the package' "$work/plain.pdf" || fail "the text is missing from the PDF"

dpkg -r scrivane || fail "dpkg -r"
installed=0
[ ! -e /usr/bin/scrivane ] || fail "/usr/bin/scrivane is still there after dpkg -r"
echo "installed, ran and removed"
