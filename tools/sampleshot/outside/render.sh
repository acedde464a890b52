#!/bin/sh
# Remakes the outside screens in tests/vision/data, each with its visible text (name.txt) and its
# button labels (name.buttons.txt):
#   web      the web-app pages written here, rendered by a headless Chromium at 1x and 2x; each page
#            lists its own text and buttons (truth.js).
#   desktop  real desktop programs under Xvfb at 1x, light and dark: a settings dialog of our own in
#            Qt Widgets (dialog.cpp, built here; it lists its own text and buttons) and the GTK 3
#            widget factory from Debian's gtk-3-examples, whose text and buttons were read off its
#            screenshot (widget-factory.txt, widget-factory.buttons.txt; the text view's last
#            line, cut in half by its edge, is left out): if a newer package lays the window out
#            differently, read them again. Its progress bar and spinners move, so two renderings
#            differ in a few hundred pixels, none of them text.
# Only for remaking the measurement set: the packages it needs are installed here (as root, or
# through sudo), not by scripts/setup, since nothing else uses them.
#   tools/sampleshot/outside/render.sh [output folder] [web|desktop]   (both when no part is named)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here/../../../tests/vision/data}
mkdir -p "$out"
part=${2:-all}

need() {
  missing=
  for p in "$@"; do
    dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$' || missing="$missing $p"
  done
  [ -z "$missing" ] && return 0
  echo "render: installing$missing"
  sudo=
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  # shellcheck disable=SC2086 # one word per package
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing >/dev/null
}

web() {
  need chromium fonts-dejavu-core
  browser="chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --window-size=1440,900"
  for page in "$here"/*.html; do
    name=$(basename "$page" .html)
    for scale in 1 2; do
      $browser --force-device-scale-factor=$scale --screenshot="$out/$name@${scale}x.png" "file://$page" 2>/dev/null
    done
    $browser --dump-dom "file://$page#truth" 2>/dev/null | python3 -c '
import html, json, re, sys
dom = sys.stdin.read()
truth = json.loads(html.unescape(re.search(r"<pre id=\"truth\">(.*?)</pre>", dom, re.S).group(1)))
name = sys.argv[1]
with open(name + ".txt", "w") as f:
    f.write("\n".join(line.strip() for line in truth["text"].splitlines() if line.strip()) + "\n")
with open(name + ".buttons.txt", "w") as f:
    f.write("\n".join(truth["buttons"]) + "\n")
' "$out/$name"
  done
}

# Starts a program, waits for its window, and writes what the window shows to a PNG. No window
# manager runs, so the window has no frame and sits where the program put it; the pause lets it
# finish painting (GTK fades widgets in).
shot() {
  png=$1
  shift
  "$@" >/dev/null 2>&1 &
  pid=$!
  window=$(timeout 30 xdotool search --sync --onlyvisible --pid "$pid" | head -n 1)
  sleep 2
  import -window "$window" "$png"
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  optipng -quiet -o5 -strip all "$png"
}

desktop() {
  need xvfb xauth xdotool imagemagick optipng fonts-dejavu-core g++ pkg-config qt6-base-dev gtk-3-examples
  tmp=$(mktemp -d)
  Xvfb -displayfd 3 -screen 0 1440x900x24 -nolisten tcp 3>"$tmp/display" 2>/dev/null &
  xvfb=$!
  trap 'kill $xvfb; rm -rf "$tmp"' EXIT
  while [ ! -s "$tmp/display" ]; do sleep 0.1; done
  display=$(cat "$tmp/display")
  export DISPLAY=":$display" NO_AT_BRIDGE=1

  # shellcheck disable=SC2046 # the flags are separate words
  g++ -std=c++20 -O1 -fPIC "$here/dialog.cpp" -o "$tmp/dialog" $(pkg-config --cflags --libs Qt6Widgets)
  shot "$out/qt-account@1x.png" "$tmp/dialog" --truth "$out/qt-account"
  shot "$out/qt-account-dark@1x.png" "$tmp/dialog" --dark --truth "$out/qt-account-dark"

  shot "$out/gtk-widgets@1x.png" gtk3-widget-factory
  shot "$out/gtk-widgets-dark@1x.png" env GTK_THEME=Adwaita:dark gtk3-widget-factory
  for name in gtk-widgets gtk-widgets-dark; do
    cp "$here/widget-factory.txt" "$out/$name.txt"
    cp "$here/widget-factory.buttons.txt" "$out/$name.buttons.txt"
  done
}

case $part in
web) web ;;
desktop) desktop ;;
all) web && desktop ;;
*) echo "usage: $0 [output folder] [web|desktop]" >&2 && exit 2 ;;
esac
