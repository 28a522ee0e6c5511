#!/usr/bin/env bash
# Writes the sample streams in examples/ from their instruction words.  Each
# stream is the sync pair 0xFF 0xFF, then the words high byte first.
set -euo pipefail
cd "$(dirname "$0")/../examples"

stream() {
  local file=$1; shift
  local hex="FFFF$*"
  hex=${hex// /}
  printf '%s' "$hex" | sed 's/../\\x&/g' | xargs -0 printf > "$file"
}

# A blue line: clear; x 100; move y 200 in blue; draw x 300; end of frame.
stream blue_line.bin 8100 0064 34C8 412C 8200

# Two frames.
# 1: a black box, a blue diagonal, a filler word, then "A A" at size 2 in
#    red from (120, 300); end of frame.
# 2: clear; 'A' turned half round (attr 0x4A) at (2, 50), whose right half
#    falls off the left edge and lands at x 1023; the pen wraps to 65531, so
#    the following draw y 60 records x 1023; end of frame.
stream box_text.bin \
  8100 0064 3C64 4190 4658 4064 4464 FFFF \
  0096 3496 015E 4626 \
  830A 0078 052C 8441 8441 8420 8441 8200 \
  8100 834A 0002 0432 8441 443C 8200
