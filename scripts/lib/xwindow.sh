# Sourced by the scripts that drive the configurator's main window on an X display.
#   main_window                the window's X id, empty while it is not shown
#   window_shown, window_gone  for until_true
#   focus_main                 gives it the keyboard
#   key KEYS...                real key presses into the focused window, slowly enough
#                              for Wine
main_window() { xdotool search --onlyvisible --name '^Vestibar' 2>/dev/null | head -n1; }
window_shown() { [ -n "$(main_window)" ]; }
window_gone() { [ -z "$(main_window)" ]; }
focus_main() {
    local id
    id=$(main_window)
    [ -n "$id" ] && xdotool windowfocus --sync "$id" 2>/dev/null
}
key() {
    for k in "$@"; do
        xdotool key --clearmodifiers "$k"
        sleep 0.3
    done
}
