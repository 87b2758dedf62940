// make_hg3: draws one of our pictures and writes it as an HG-3 file with the
// test-only writer and the library's encoder; optionally also writes what a
// window shows of it (flattened onto white, 24-bit BMP) so that tests can
// compare screen pixels with it.
//
//   make_hg3 demo|test OUT.hg3 [SHOWN.bmp]
//
// demo: 480 x 270, an evening sky with stars, a moon, hills and the title
//       "DEMO GAME" / "UPDATE VER 1.1" in block letters.
// test: 400 x 300, four tinted quadrants (red top left, green top right,
//       blue bottom left, yellow bottom right) with gradients, a transparent
//       band at the top and a half-transparent block on the left.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "tests/image/tqImageTestUtil.h"
#include "tqClassBase/tqClassBase.h"

using namespace imgtest;

namespace {

// Pixels are stored blue, green, red, alpha; top row first.
void Set(Pixels& p, int x, int y, int r, int g, int b, int a = 255) {
  if (x < 0 || y < 0 || x >= p.width || y >= p.height) return;
  uint8_t* px = p.at(x, y);
  px[0] = (uint8_t)b;
  px[1] = (uint8_t)g;
  px[2] = (uint8_t)r;
  px[3] = (uint8_t)a;
}

int Mix(int a, int b, double t) { return (int)std::lround(a + (b - a) * t); }

// 5 x 7 block letters, one string per row, '#' set.
struct Glyph {
  char c;
  const char* rows[7];
};
const Glyph kGlyphs[] = {
    {'A', {".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
    {'D', {"####.", "#...#", "#...#", "#...#", "#...#", "#...#", "####."}},
    {'E', {"#####", "#....", "#....", "####.", "#....", "#....", "#####"}},
    {'G', {".###.", "#...#", "#....", "#.###", "#...#", "#...#", ".###."}},
    {'M', {"#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"}},
    {'O', {".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'P', {"####.", "#...#", "#...#", "####.", "#....", "#....", "#...."}},
    {'R', {"####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"}},
    {'T', {"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."}},
    {'U', {"#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'V', {"#...#", "#...#", "#...#", "#...#", "#...#", ".#.#.", "..#.."}},
    {'1', {"..#..", ".##..", "..#..", "..#..", "..#..", "..#..", ".###."}},
    {'.', {".....", ".....", ".....", ".....", ".....", ".##..", ".##.."}},
};

const Glyph* GlyphOf(char c) {
  for (const Glyph& g : kGlyphs)
    if (g.c == c) return &g;
  return nullptr;
}

// Block letters of `scale` pixels each, with a shadow one block down-right.
void Text(Pixels& p, int x, int y, int scale, const char* text, int r, int g, int b) {
  for (int pass = 0; pass < 2; ++pass) {
    int cx = x;
    for (const char* s = text; *s; ++s, cx += 6 * scale) {
      const Glyph* glyph = GlyphOf(*s);
      if (!glyph) continue;
      for (int gy = 0; gy < 7; ++gy)
        for (int gx = 0; gx < 5; ++gx) {
          if (glyph->rows[gy][gx] != '#') continue;
          for (int dy = 0; dy < scale; ++dy)
            for (int dx = 0; dx < scale; ++dx) {
              int px = cx + gx * scale + dx, py = y + gy * scale + dy;
              if (pass == 0)
                Set(p, px + scale / 2 + 1, py + scale / 2 + 1, 20, 16, 40);
              else
                Set(p, px, py, r, g, b);
            }
        }
    }
  }
}

Pixels Demo() {
  const int w = 480, h = 270;
  Pixels p{w, h, 4, Bytes((size_t)w * h * 4)};
  // Evening sky: deep blue at the top, violet, then orange at the horizon.
  for (int y = 0; y < h; ++y) {
    double t = (double)y / (h - 1);
    int r, g, b;
    if (t < 0.6) {
      double u = t / 0.6;
      r = Mix(18, 120, u), g = Mix(22, 60, u), b = Mix(70, 130, u);
    } else {
      double u = (t - 0.6) / 0.4;
      r = Mix(120, 250, u), g = Mix(60, 160, u), b = Mix(130, 90, u);
    }
    for (int x = 0; x < w; ++x) Set(p, x, y, r, g, b);
  }
  // Stars in the upper sky.
  Rng rng(7);
  for (int i = 0; i < 90; ++i) {
    int x = (int)(rng.next() % w), y = (int)(rng.next() % (h / 2));
    int v = 180 + (int)(rng.next() % 76);
    Set(p, x, y, v, v, v - 20);
    if (rng.next() % 5 == 0) {
      Set(p, x + 1, y, v - 60, v - 60, v - 80);
      Set(p, x, y + 1, v - 60, v - 60, v - 80);
    }
  }
  // A moon with a soft rim.
  const double mx = 428, my = 48, radius = 26;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      double d = std::hypot(x - mx, y - my);
      if (d > radius + 1.5) continue;
      double cover = d < radius - 0.5 ? 1.0 : (radius + 1.5 - d) / 2.0;
      uint8_t* px = p.at(x, y);
      px[2] = (uint8_t)Mix(px[2], 250, cover);
      px[1] = (uint8_t)Mix(px[1], 240, cover);
      px[0] = (uint8_t)Mix(px[0], 200, cover);
    }
  // Two rows of hills.
  for (int x = 0; x < w; ++x) {
    int far = (int)(h - 70 + 16 * std::sin(x / 41.0) + 9 * std::sin(x / 13.0 + 1));
    int near = (int)(h - 38 + 12 * std::sin(x / 57.0 + 2) + 5 * std::sin(x / 9.0));
    for (int y = far; y < h; ++y) Set(p, x, y, 70, 40, 90);
    for (int y = near; y < h; ++y) Set(p, x, y, 30, 20, 45);
  }
  // Above the middle, where the confirmation box covers the window.
  Text(p, 24, 16, 5, "DEMO GAME", 255, 248, 230);
  Text(p, 26, 58, 2, "UPDATE VER 1.1", 255, 210, 150);
  return p;
}

Pixels Test() {
  const int w = 400, h = 300;
  Pixels p{w, h, 4, Bytes((size_t)w * h * 4)};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      bool right = x >= w / 2, bottom = y >= h / 2;
      int shade = (x % (w / 2)) * 60 / (w / 2) + (y % (h / 2)) * 40 / (h / 2);
      if (!right && !bottom) Set(p, x, y, 200 + shade / 2, 20 + shade, 30);
      if (right && !bottom) Set(p, x, y, 30, 150 + shade, 40 + shade);
      if (!right && bottom) Set(p, x, y, 30 + shade, 50, 150 + shade);
      if (right && bottom) Set(p, x, y, 200 + shade / 2, 180 + shade / 2, 20 + shade);
    }
  // Fully transparent rows 10 to 29 (white on the screen), and a block of
  // half-transparent pixels on the left.
  for (int y = 10; y < 30; ++y)
    for (int x = 0; x < w; ++x) p.at(x, y)[3] = 0;
  for (int y = 60; y < 100; ++y)
    for (int x = 20; x < 80; ++x) p.at(x, y)[3] = 128;
  return p;
}

// The rows of p from row `top` on, `rows` of them, as a picture of its own.
Pixels Band(const Pixels& p, int top, int rows) {
  Pixels b{p.width, rows, p.bpp, {}};
  size_t rowBytes = (size_t)p.width * p.bpp;
  b.bytes.assign(p.bytes.begin() + top * rowBytes, p.bytes.begin() + (top + rows) * rowBytes);
  return b;
}

// One picture in slices of at most 128 rows; slices count from the bottom.
Bytes Hg3Of(const Pixels& p) {
  Hg3Picture picture;
  picture.tags.push_back({"stdinfo", StdInfo((uint32_t)p.width, (uint32_t)p.height, 32, 0, 0,
                                             (uint32_t)p.width, (uint32_t)p.height, 1)});
  int firstRow = 0, index = 0;
  while (firstRow < p.height) {
    int rows = p.height - firstRow < 128 ? p.height - firstRow : 128;
    int top = p.height - firstRow - rows;
    Areas areas = EncodeAreas(Band(p, top, rows));
    if (areas.byteArea.empty() && areas.bitArea.empty()) return {};
    char name[16];
    snprintf(name, sizeof name, "img%04d", index++);
    picture.tags.push_back({name, SliceData((uint32_t)firstRow, (uint32_t)rows, areas)});
    firstRow += rows;
  }
  return Hg3Bytes({picture});
}

// What a window shows: every pixel over white, as the updater flattens it.
Bytes ShownBmp(const Pixels& p) {
  uint32_t pitch = ((uint32_t)p.width * 3 + 3) & ~3u;
  uint32_t imageSize = pitch * (uint32_t)p.height;
  Bytes b = {'B', 'M'};
  Put32(b, 14 + 40 + imageSize);
  Put32(b, 0);
  Put32(b, 14 + 40);
  Put32(b, 40);
  Put32(b, (uint32_t)p.width);
  Put32(b, (uint32_t)p.height);
  Put16(b, 1);
  Put16(b, 24);
  Put32(b, 0);
  Put32(b, imageSize);
  for (int i = 0; i < 4; ++i) Put32(b, 0);
  for (int y = p.height - 1; y >= 0; --y) {
    Pixels& q = const_cast<Pixels&>(p);
    for (int x = 0; x < p.width; ++x) {
      const uint8_t* px = q.at(x, y);
      for (int k = 0; k < 3; ++k) b.push_back((uint8_t)(255 + (((px[k] - 255) * px[3]) >> 8)));
    }
    for (uint32_t pad = (uint32_t)p.width * 3; pad < pitch; ++pad) b.push_back(0);
  }
  return b;
}

bool Write(const char* path, const Bytes& bytes) {
  FILE* f = fopen(path, "wb");
  if (!f) return false;
  bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || (strcmp(argv[1], "demo") && strcmp(argv[1], "test"))) {
    fprintf(stderr, "usage: make_hg3 demo|test OUT.hg3 [SHOWN.bmp]\n");
    return 2;
  }
  LibraryStartup(0, 0);
  Pixels p = strcmp(argv[1], "demo") == 0 ? Demo() : Test();
  Bytes file = Hg3Of(p);
  int status = 0;
  if (file.empty() || !Write(argv[2], file)) {
    fprintf(stderr, "make_hg3: cannot write %s\n", argv[2]);
    status = 1;
  } else if (argc > 3 && !Write(argv[3], ShownBmp(p))) {
    fprintf(stderr, "make_hg3: cannot write %s\n", argv[3]);
    status = 1;
  }
  LibraryShutdown();
  return status;
}
