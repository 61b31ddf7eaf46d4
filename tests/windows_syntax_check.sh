#!/usr/bin/env bash
# Compiles every product source for Windows with the mingw compiler, syntax
# only, against this system's Qt headers. Not a Windows build, but any
# POSIX-only header or call outside the seam fails here.
# Usage: windows_syntax_check.sh SOURCE_DIR GENERATED_DIR QT_INCLUDE_DIR
set -euo pipefail
src=$1
generated=$2
qt=$3
cxx=x86_64-w64-mingw32-g++-posix
command -v "$cxx" >/dev/null || { echo "SKIP: $cxx is not installed"; exit 77; }

flags=(-std=c++20 -fsyntax-only -Wall -Wextra -Wno-attributes -I"$src" -I"$generated" -I"$qt")
for module in QtCore QtGui QtWidgets QtSerialPort QtNetwork; do
    flags+=(-I"$qt/$module")
done
export cxx
mapfile -t sources < <(cd "$src" && ls app/*.cpp bridge/*.cpp platform/*.cpp platform/*/*.cpp ports/*.cpp ports/*/*.cpp record/*.cpp ui/*.cpp)
failed=0
printf '%s\n' "${sources[@]}" | (cd "$src" && xargs -P "$(nproc)" -I{} sh -c '"$0" "$@" {} 2>&1 | sed "s|^|{}: |"' "$cxx" "${flags[@]}") \
    > /tmp/windows_syntax_check.$$ || failed=1
if grep -q "error:" /tmp/windows_syntax_check.$$; then
    grep -E "error:" /tmp/windows_syntax_check.$$ >&2 || true
    failed=1
fi
rm -f /tmp/windows_syntax_check.$$
[ $failed -eq 0 ] || { echo "FAIL: the sources do not compile for Windows"; exit 1; }
echo "windows syntax check: ${#sources[@]} sources ok"
