# Shared by the editor's host checks (after tests/hosts/common.sh): a private
# Xvfb, window captures and a wait for the editor's picture to be current.

need Xvfb xdotool xwd xprop xwdtopnm pnmcut pnmtoplainpnm md5sum

# Starts Xvfb on a free display number and exports DISPLAY.
start_xvfb() {
  local fd=$scratch/display
  Xvfb -displayfd 9 -screen 0 1280x1024x24 -nolisten tcp 9>"$fd" >"$scratch/xvfb.log" 2>&1 &
  started $!
  for _ in $(seq 100); do [ -s "$fd" ] && break; sleep 0.1; done
  [ -s "$fd" ] || { cat "$scratch/xvfb.log"; fail "Xvfb did not start"; }
  export DISPLAY=:$(head -n 1 "$fd")
}

# capture WINDOW: a checksum of the window's pixels.
capture() { xwd -id "$1" -silent | md5sum | cut -d' ' -f1; }

# pixel WINDOW X Y: "R G B" of one pixel.
pixel() {
  xwd -id "$1" -silent | xwdtopnm 2>/dev/null | pnmcut -left "$2" -top "$3" -width 1 -height 1 |
    pnmtoplainpnm | tail -n 1 | xargs
}

# The status mark at the plot's top right (page units 558, 44, times the
# scale) is lit while a render is due. current WINDOW [SCALE] waits until it
# is dark, that is until the picture shows the editor's settings.
current() {
  local scale=${2:-1} x y
  x=$(awk -v s="$scale" 'BEGIN { print int(558 * s) }') y=$(awk -v s="$scale" 'BEGIN { print int(44 * s) }')
  for _ in $(seq 300); do
    [ "$(pixel "$1" "$x" "$y")" = "61 66 76" ] && return 0
    sleep 0.1
  done
  fail "the picture did not become current: status mark at $x,$y is $(pixel "$1" "$x" "$y")"
}

# changed WINDOW BEFORE: waits until the window no longer shows BEFORE.
changed() {
  for _ in $(seq 300); do
    [ "$(capture "$1")" != "$2" ] && return 0
    sleep 0.1
  done
  fail "the window did not change"
}
