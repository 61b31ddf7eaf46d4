#!/usr/bin/env bash
# Desktop entry and metainfo validate; the install tree is complete and
# starts; the Debian package holds the same files, depends on Qt 6, passes
# lintian with no error, installs, starts from its desktop entry's Exec
# line under an X server with its window and backdrop, and leaves no file
# once removed.
# Usage: packaging_check.sh BUILD_DIR SOURCE_DIR GENERATED_DIR
set -euo pipefail
build=$1
src=$2
generated=$3
id=org.vardelolink.VardeloLink
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

for tool in desktop-file-validate appstreamcli dpkg-deb cpack lintian Xvfb xdotool strace; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

desktop-file-validate "$src/resources/linux/$id.desktop"
appstreamcli validate --no-net "$generated/$id.metainfo.xml"

# Install tree.
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
expected=(
    bin/vardelolink
    share/vardelolink/VardeloLinkcopy.png
    share/applications/$id.desktop
    share/metainfo/$id.metainfo.xml
)
for size in 16 32 48 64 128 256; do
    expected+=("share/icons/hicolor/${size}x${size}/apps/$id.png")
done
for f in "${expected[@]}"; do
    [ -e "$prefix/$f" ] || fail "install tree lacks $f"
done

# It starts from its bin/ and reads the backdrop from the share folder.
log=$work/start.log
if command -v strace >/dev/null; then
    QT_QPA_PLATFORM=offscreen timeout 4 strace -f -e trace=openat -o "$log" "$prefix/bin/vardelolink" || true
    grep -q "share/vardelolink/VardeloLinkcopy.png\", O_RDONLY" "$log" || fail "the installed program did not open its backdrop"
else
    QT_QPA_PLATFORM=offscreen timeout 4 "$prefix/bin/vardelolink" && fail "the installed program exited by itself"
fi

# Debian package.
(cd "$build" && cpack -G DEB -B "$work/pkg" >/dev/null)
deb=$(ls "$work"/pkg/*.deb)
listing=$(dpkg-deb -c "$deb")
for f in "${expected[@]}"; do
    grep -q "\./usr/$f\$" <<<"$listing" || fail "package lacks /usr/$f"
done
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for lib in libqt6widgets6 libqt6serialport6 libqt6gui6 libqt6core6; do
    grep -q "$lib" <<<"$depends" || fail "package does not depend on $lib"
done
grep -q "qt6-wayland" <<<"$(dpkg-deb -f "$deb" Recommends)" || fail "package does not recommend the Wayland plugin"
version=$(dpkg-deb -f "$deb" Version)
grep -q "\"$version\"" "$generated/Version.h" || fail "package version $version is not the program's"

# Debian's own checks: no error. Warnings and notes are listed in the README.
lintian --fail-on error "$deb" 2>&1 | tee "$work/lintian.txt"

# Installed, as a user would; not over a copy someone installed already.
if [ "$(id -u)" -ne 0 ]; then
    echo "packaging: ok (not root: the package was not installed)"
    exit 0
fi
if dpkg-query -W -f='${Status}' vardelolink 2>/dev/null | grep -q "install ok installed"; then
    echo "packaging: ok (vardelolink is installed already: left as it is)"
    exit 0
fi
dpkg -i "$deb" >/dev/null
files=$(dpkg -L vardelolink)
removed=no
cleanup_pkg() { [ "$removed" = yes ] || dpkg -P vardelolink >/dev/null 2>&1 || true; }
trap 'cleanup_pkg; rm -rf "$work"' EXIT

# Started from the desktop entry's Exec line on an X server: its window
# comes up under its title, with the backdrop read from the installed path.
exec_line=$(sed -n 's/^Exec=//p' "/usr/share/applications/$id.desktop" | sed 's/ *%[fFuUik]//g')
Xvfb -displayfd 4 -screen 0 1024x768x24 -nolisten tcp 4>"$work/display" >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=:$(cat "$work/display")
# No session bus: one started on demand would outlive the test.
(cd / && exec env QT_QPA_PLATFORM=xcb DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus" strace -f -e trace=openat -o "$work/installed.log" $exec_line) &
app=$!
window=""
for _ in $(seq 100); do
    window=$(xdotool search --name '^VardeloLink$' 2>/dev/null | head -1) && [ -n "$window" ] && break
    sleep 0.1
done
[ -n "$window" ] || { kill "$app" "$xvfb" 2>/dev/null; fail "the installed program showed no window titled VardeloLink"; }
# The installed one: other tests may run the build's own meanwhile.
installed_pid() {
    for p in $(pgrep -x vardelolink); do
        [ "$(readlink "/proc/$p/exe")" = /usr/bin/vardelolink ] && echo "$p"
    done
}
pid=$(installed_pid | head -1)
[ -n "$pid" ] || fail "no installed vardelolink process"
kill -TERM "$pid"
for _ in $(seq 100); do [ -e "/proc/$pid" ] || break; sleep 0.1; done
# strace also follows what the program started (a session bus) and would
# wait for it: done once the program is.
kill -KILL "$app" 2>/dev/null || true
wait "$app" 2>/dev/null || true
kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null || true
grep -q '"/usr/share/vardelolink/VardeloLinkcopy.png", O_RDONLY' "$work/installed.log" ||
    fail "the installed program did not read its backdrop from /usr/share/vardelolink"
[ -z "$(installed_pid)" ] || fail "the program outlived SIGTERM"

# Removed: none of its files is left.
dpkg -P vardelolink >/dev/null
removed=yes
while IFS= read -r f; do
    [ -z "$f" ] || [ -d "$f" ] || [ ! -e "$f" ] || fail "$f is left after removal"
done <<<"$files"
for d in /usr/share/vardelolink /usr/share/doc/vardelolink; do
    [ ! -e "$d" ] || fail "$d is left after removal"
done
echo "packaging: ok"
