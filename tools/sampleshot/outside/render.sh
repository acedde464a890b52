#!/bin/sh
# Renders the outside screens (web-app pages written here) with a headless Chromium at 1x and 2x,
# and writes each page's visible text and button labels beside the images. Only for remaking the
# measurement set in tests/vision/data; nothing else needs Chromium.
#   tools/sampleshot/outside/render.sh [output folder]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here/../../../tests/vision/data}
mkdir -p "$out"
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
