#!/usr/bin/env bash
# Desktop entry and metainfo validate; the install tree is complete and
# starts; the Debian package holds the same files and depends on Qt 6.
# Usage: packaging_check.sh BUILD_DIR SOURCE_DIR GENERATED_DIR
set -euo pipefail
build=$1
src=$2
generated=$3
id=org.vardelolink.VardeloLink
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

for tool in desktop-file-validate appstreamcli dpkg-deb cpack; do
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
echo "packaging: ok"
