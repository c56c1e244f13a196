#!/usr/bin/env bash
# Makes the Wine prefix in $WINEPREFIX ready for the program's tests and
# benchmarks, installing Wine first if it is missing.
set -euo pipefail
dpkg-query -W -f='${Status}' wine64 2>/dev/null | grep -q "ok installed" ||
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends wine64
wine=/usr/lib/wine/wine64
"$wine" wineboot -i
# Xvfb has no window manager: Wine must neither wait for one to withdraw a
# closing window (two seconds at every close) nor for its permission to give
# a window the keyboard focus.
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v UseTakeFocus /d N /f
/usr/lib/wine/wineserver64 -w
