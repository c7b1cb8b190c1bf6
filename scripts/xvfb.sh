# Sourced by the scripts that run Windows programs: start_private_xvfb FIRST LAST starts an Xvfb on
# the first free display number in that range, exports DISPLAY and sets XVFB_PID (empty when the
# caller already had a display).
start_private_xvfb() {
  XVFB_PID=""
  [ -n "${DISPLAY:-}" ] && return 0
  local n
  for n in $(seq "$1" "$2"); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    export DISPLAY=":$n"
    break
  done
  sleep 1
}
