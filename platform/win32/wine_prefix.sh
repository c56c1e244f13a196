#!/usr/bin/env bash
# Makes the Wine prefix in $WINEPREFIX ready for the program's tests and
# benchmarks, installing Wine first if it is missing: 64-bit Wine, or with
# the argument 32, 32-bit Wine (from i386 packages) for the i686 build.
set -euo pipefail
bits="${1:-64}"
case "$bits" in
64) package=wine64 wine=/usr/lib/wine/wine64 ;;
32) package=wine32:i386 wine=/usr/lib/wine/wine && export WINEARCH=win32 ;;
*) echo "usage: $0 [64|32]" >&2 && exit 2 ;;
esac
"$(dirname "${BASH_SOURCE[0]}")/../../tools/install_missing.sh" "$package"
"$wine" wineboot -i
# Xvfb has no window manager: Wine must neither wait for one to withdraw a
# closing window (two seconds at every close) nor for its permission to give
# a window the keyboard focus.
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v UseTakeFocus /d N /f
"/usr/lib/wine/wineserver$bits" -w
