#!/usr/bin/env bash
# Runs a Windows program under Wine in a prefix of the project's own, with the
# null graphics driver so that windows can be created without a display.
set -euo pipefail
export WINEPREFIX="${ZELTO_WINEPREFIX:-${HOME:-/tmp}/.zelto-wine}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winedbg.exe=d}"  # no debugger left holding the server after a crash
mkdir -p "$(dirname "$WINEPREFIX")"
(
  flock 9
  if [ ! -f "$WINEPREFIX/.zelto-ready" ]; then
    wineboot -i >/dev/null 2>&1 9>&- || true
    wineserver -w 9>&-
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1 9>&-
    wineserver -w 9>&-
    touch "$WINEPREFIX/.zelto-ready"
  fi
  # A lingering server makes each later start cheap. It and the helper
  # processes Wine starts with it must not inherit the lock (or they would
  # hold it for as long as they live) nor our output (or a test runner would
  # wait for them to close it). Fails, harmlessly, when one is already running.
  if wineserver -p60 9>&- </dev/null >/dev/null 2>&1; then
    wine cmd /c exit 9>&- </dev/null >/dev/null 2>&1 || true
  fi
) 9>"$WINEPREFIX.lock"
exec wine "$@"
