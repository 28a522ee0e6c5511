// The window's pixels as the renderer leaves them, for velmora-inspect's and
// velmora-serve's pages: tools/embed.cmake builds it into each in place of
// the page's include line.  W and H are the page's, the window's size at
// start.

// Colour bytes reach an 8-bit window as byte*255/256, halves up.
function shown(b) { return Math.floor((b * 255 + 128) / 256); }

// [r, g, b] as one pixel of a Uint32Array over ImageData: RGBA bytes,
// little-endian.
function pixel(rgb) { return (0xff000000 | rgb[2] << 16 | rgb[1] << 8 | rgb[0]) >>> 0; }

// One segment into px32 (W by H pixels) in colour c, shifted by (ox, oy):
// a 1-pixel line unsmoothed, lighting one pixel per step along its longer
// axis, at the pixel whose centre row (or column) the segment crosses, its
// end left to the next.  A segment on a pixel edge lights the pixel below
// it in the GL's terms: the row below, the column to the left.
function plotSegment(px32, x1, y1, x2, y2, c, ox, oy) {
  const dx = x2 - x1, dy = y2 - y1;
  if (Math.abs(dx) >= Math.abs(dy)) {
    if (!dx) return;
    const step = dx > 0 ? 1 : -1, slope = dy / dx;
    for (let k = Math.round(x1) + (dx > 0 ? 0 : -1); dx > 0 ? k + 0.5 < x2 : k + 0.5 > x2; k += step) {
      if ((k + 0.5 - x1) * step < 0) continue;
      const x = k + ox, y = Math.floor(y1 + slope * (k + 0.5 - x1)) + oy;
      if (x >= 0 && y >= 0 && x < W && y < H) px32[y * W + x] = c;
    }
  } else {
    const step = dy > 0 ? 1 : -1, slope = dx / dy;
    for (let k = Math.round(y1) + (dy > 0 ? 0 : -1); dy > 0 ? k + 0.5 < y2 : k + 0.5 > y2; k += step) {
      if ((k + 0.5 - y1) * step < 0) continue;
      const x = Math.ceil(x1 + slope * (k + 0.5 - y1)) - 1 + ox, y = k + oy;
      if (x >= 0 && y >= 0 && x < W && y < H) px32[y * W + x] = c;
    }
  }
}
