#!/bin/sh
# Builds the Debian packages from a built tree and checks them: their fields,
# lintian and desktop-file-validate where they are installed, then installs the
# command-line package alone with dpkg and runs it (version, conversions in
# option mode, one with embedded fonts, and one without options, no display),
# adds the window package and sees the program load its module, and removes
# both again.
#   package_test.sh BUILD_DIR CPACK VERSION WINDOW
# WINDOW is 1 when the build has the window module. Exits 77 (skipped) unless
# run as root on a machine with dpkg.
set -eu
build=$1
cpack=$2
version=$3
window=$4

if [ "$(id -u)" != 0 ] || ! command -v dpkg >/dev/null 2>&1; then
  echo "skipped: installing a package needs root and dpkg"
  exit 77
fi
# Test runs from other build trees on this machine wait for each other.
exec 9>/tmp/scrivane-package-test.lock
if command -v flock >/dev/null 2>&1; then flock 9; fi
for p in scrivane scrivane-window; do
  if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed'; then
    echo "skipped: a $p package is installed already; not touching it"
    exit 77
  fi
done

work=$(mktemp -d)
installed=""
cleanup() {
  if [ -n "$installed" ]; then dpkg -r $installed >/dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAILED: $*"
  exit 1
}

(cd "$build" && "$cpack" -G DEB -B "$work/package" --config CPackConfig.cmake) >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack could not build the packages"; }
core=$(ls "$work"/package/scrivane_"$version"_*.deb) || fail "no scrivane package"
echo "built $(basename "$core")"
dpkg-deb --field "$core" Package Version Depends
if dpkg-deb --field "$core" Depends | grep -qi qt; then fail "the command-line package depends on Qt"; fi
dpkg-deb --contents "$core" >"$work/core.list"
if grep -q -e 'scrivane-window' -e '\.desktop' "$work/core.list"; then fail "the command-line package holds window files"; fi
grep -q '/scrivane-fonts\.so$' "$work/core.list" || fail "the command-line package lacks the font module"
for lib in libharfbuzz-subset0 libfreetype6 libfontconfig1 libfribidi0; do
  dpkg-deb --field "$core" Depends | grep -q "$lib" || fail "the command-line package does not depend on $lib"
done
debs=$core
if [ "$window" = 1 ]; then
  gui=$(ls "$work"/package/scrivane-window_"$version"_*.deb) || fail "no scrivane-window package"
  echo "built $(basename "$gui")"
  dpkg-deb --field "$gui" Package Version Depends
  dpkg-deb --field "$gui" Depends | grep -q "scrivane (= $version)" || fail "the window does not depend on its program"
  dpkg-deb --field "$gui" Depends | grep -q libqt6widgets6 || fail "the window does not depend on Qt"
  debs="$debs $gui"
fi

if command -v lintian >/dev/null 2>&1; then
  # Every tag down to the pedantic ones; the few that stand are overridden in
  # the package itself, each with its reason.
  lintian --pedantic --tag-display-limit 0 $debs >"$work/lintian.log" 2>&1 || true
  cat "$work/lintian.log"
  if grep -q '^[EWIPX]: ' "$work/lintian.log"; then fail "lintian found faults in the packages"; fi
fi

if [ "$window" = 1 ] && command -v desktop-file-validate >/dev/null 2>&1; then
  mkdir "$work/gui"
  dpkg-deb -x "$gui" "$work/gui"
  desktop-file-validate "$work/gui/usr/share/applications/scrivane.desktop" ||
    fail "desktop-file-validate found faults in the desktop entry"
fi

dpkg -i "$core" || fail "dpkg -i $(basename "$core")"
installed=scrivane
for f in /usr/bin/scrivane /usr/share/man/man1/scrivane.1.gz /usr/share/doc/scrivane/copyright \
  /usr/share/doc/scrivane/changelog.gz; do
  [ -f "$f" ] || fail "$f is not installed"
done

printed=$(/usr/bin/scrivane --version) || fail "scrivane --version exited with $?"
[ "$printed" = "scrivane $version" ] || fail "scrivane --version printed '$printed'"
echo "$printed"

printf 'Hello from the package\nsecond line\n' >"$work/hello.txt"
cp "$work/hello.txt" "$work/plain.txt"
printf 'Greek: \316\232\316\261\316\273\316\267\316\274\316\255\317\201\316\261\n' >"$work/greek.txt"
(
  unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
  /usr/bin/scrivane -q --page a4 "$work/hello.txt" </dev/null || fail "option mode exited with $?"
  /usr/bin/scrivane "$work/plain.txt" </dev/null || fail "a conversion without options exited with $?"
  /usr/bin/scrivane -q "$work/greek.txt" </dev/null 2>"$work/greek.err" || fail "option mode on Greek exited with $?"
)
# Greek needs the font module: its fonts are embedded, and nothing is said.
[ "$(head -c 8 "$work/greek.pdf")" = "%PDF-1.3" ] || { cat "$work/greek.err"; fail "the Greek text has no embedded fonts"; }
[ ! -s "$work/greek.err" ] || { cat "$work/greek.err"; fail "the Greek conversion complained"; }
for pdf in "$work/hello.pdf" "$work/plain.pdf"; do
  [ "$(head -c 8 "$pdf")" = "%PDF-1.2" ] || fail "$pdf is not a PDF"
done
grep -a -q 'MediaBox \[ 0 0 595 842 \]' "$work/hello.pdf" || fail "--page a4 did not reach the PDF"
grep -a -q 'Hello from the package' "$work/plain.pdf" || fail "the text is missing from the PDF"

# A display that cannot be reached: the window is tried, which without the
# window package says so, and with it loads the module; either way the usage
# follows with status 2.
start_window() {
  status=0
  (unset WAYLAND_DISPLAY QT_QPA_PLATFORM; DISPLAY=:4242 LD_DEBUG=files /usr/bin/scrivane) \
    </dev/null >"$work/window.log" 2>&1 || status=$?
  [ "$status" = 2 ] || { cat "$work/window.log"; fail "a window start without a display exited with $status"; }
}
start_window
grep -q 'the window cannot be shown' "$work/window.log" || { cat "$work/window.log"; fail "no word that the window is missing"; }

if [ "$window" = 1 ]; then
  dpkg -i "$gui" || fail "dpkg -i $(basename "$gui")"
  installed="scrivane-window scrivane"
  module=$(dpkg -L scrivane-window | grep '/scrivane-window\.so$') || fail "no window module in scrivane-window"
  for f in "$module" /usr/share/applications/scrivane.desktop /usr/share/icons/hicolor/48x48/apps/scrivane.png \
    /usr/share/icons/hicolor/256x256/apps/scrivane.png /usr/share/doc/scrivane-window/copyright; do
    [ -f "$f" ] || fail "$f is not installed"
  done
  start_window
  grep -q "file=$module" "$work/window.log" || { cat "$work/window.log"; fail "the program did not load $module"; }
  grep -q 'the window cannot be shown' "$work/window.log" && fail "the installed window was not found"
  dpkg -r scrivane-window || fail "dpkg -r scrivane-window"
  installed=scrivane
fi

dpkg -r scrivane || fail "dpkg -r scrivane"
installed=""
[ ! -e /usr/bin/scrivane ] || fail "/usr/bin/scrivane is still there after dpkg -r"
echo "installed, ran and removed"
