# Sourced by the scripts that run Windows programs under wine: a throwaway
# prefix, an Xvfb display of its own and a persistent wineserver.
#
# Wine needs care or a run can hang for good: a wineserver started on demand
# outlives each program and keeps the caller's pipes open. So a persistent
# wineserver is started first with its output away from our pipes, one
# program warms the prefix up, and wine_session_stop ends the wineserver
# (-k) whatever happened; callers put it in their EXIT trap.
#
# wine_session_start WORK_FOLDER SCREEN (e.g. 1280x1024x24)

wine_session_start() {
    local work="$1" screen="$2"
    export WINEPREFIX="${work}/prefix"
    export WINEARCH=win64
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree=;mshtml="
    # Keeps wine from mapping the caller's home folders into the prefix.
    export HOME="${work}/home"
    mkdir -p "${WINEPREFIX}" "${HOME}"

    # -displayfd tells us which display number Xvfb took once it is ready.
    exec {display_fd}<> <(:)
    Xvfb -displayfd "${display_fd}" -screen 0 "${screen}" -nolisten tcp >"${work}/xvfb.log" 2>&1 &
    wine_session_xvfb_pid=$!
    read -r -t 30 -u "${display_fd}" display_number
    exec {display_fd}>&-
    export DISPLAY=":${display_number}"

    timeout 60 wineserver -p </dev/null >/dev/null 2>&1
    timeout 180 wine wineboot --init </dev/null >"${work}/wineboot.log" 2>&1
    # Wine's own TrueType fonts (Tahoma for "MS Shell Dlg", Marlett for the
    # caption buttons) are not found in its data folder from a fresh prefix.
    cp /usr/share/wine/fonts/*.ttf "${WINEPREFIX}/drive_c/windows/Fonts/" 2>/dev/null || true
    # Unmanaged, wine draws the window frame itself: with no window manager
    # under Xvfb a managed window would have none.
    timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
        </dev/null >/dev/null 2>&1
    # Warm-up: one program that ends, so that the first real one does not
    # pay for the prefix's start.
    timeout 60 wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

wine_session_stop() {
    timeout 30 wineserver -k >/dev/null 2>&1 || true
    if [ -n "${wine_session_xvfb_pid:-}" ]; then
        kill "${wine_session_xvfb_pid}" 2>/dev/null || true
        wait "${wine_session_xvfb_pid}" 2>/dev/null || true
    fi
}
