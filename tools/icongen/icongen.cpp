// icongen: draws the program icon of QV3Update.exe and writes it as raw Windows resources.
//
// Usage: icongen OUTPUT_DIR
//
// Writes one file per icon image (the RT_ICON data: a BITMAPINFOHEADER with doubled height,
// the colour table for palette images, the colour bitmap and the 1-bit AND mask, all
// bottom-up and uncompressed) and one file per icon group (the RT_GROUP_ICON data: a
// GRPICONDIR whose entries name the RT_ICON identifiers):
//
//   icon_30001.bin .. icon_30004.bin, group_neutral.bin   the four-image group
//   icon_1.bin .. icon_5.bin, group_german.bin            the five-image group
//
// The artwork (a blue rounded square with a white upward arrow) is drawn from geometry at
// every size with 4 x 4 supersampling, so the output is identical on every run and machine.
// Built with the host compiler at build time; it depends on nothing but the standard library.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Rgba {
  double r, g, b, a;  // straight (not premultiplied) colour, 0..255; alpha 0..1
};

struct Image {
  int size;
  std::vector<Rgba> pixels;  // top-down rows
};

// ---- geometry ---------------------------------------------------------------------------------

bool InRoundedSquare(double x, double y) {
  const double c = 0.5, half = 0.45, radius = 0.17;
  double dx = std::fabs(x - c) - (half - radius);
  double dy = std::fabs(y - c) - (half - radius);
  if (dx <= 0 || dy <= 0) return std::fabs(x - c) <= half && std::fabs(y - c) <= half;
  return dx * dx + dy * dy <= radius * radius;
}

bool InTriangle(double px, double py, double ax, double ay, double bx, double by, double cx,
                double cy) {
  auto side = [](double x1, double y1, double x2, double y2, double x3, double y3) {
    return (x1 - x3) * (y2 - y3) - (x2 - x3) * (y1 - y3);
  };
  double d1 = side(px, py, ax, ay, bx, by);
  double d2 = side(px, py, bx, by, cx, cy);
  double d3 = side(px, py, cx, cy, ax, ay);
  bool neg = d1 < 0 || d2 < 0 || d3 < 0;
  bool pos = d1 > 0 || d2 > 0 || d3 > 0;
  return !(neg && pos);
}

bool InArrow(double x, double y) {
  bool shaft = x >= 0.39 && x <= 0.61 && y >= 0.44 && y <= 0.80;
  bool head = InTriangle(x, y, 0.5, 0.17, 0.20, 0.48, 0.80, 0.48);
  return shaft || head;
}

Rgba Sample(double x, double y) {
  if (InRoundedSquare(x, y)) {
    if (InArrow(x, y)) return {255, 255, 255, 1};
    // Top-to-bottom gradient from a light to a deep blue.
    double t = std::clamp((y - 0.05) / 0.9, 0.0, 1.0);
    return {48 + (16 - 48) * t, 128 + (72 - 128) * t, 216 + (160 - 216) * t, 1};
  }
  return {0, 0, 0, 0};
}

Image Draw(int size) {
  const int ss = 4;  // subsamples per axis
  Image image{size, std::vector<Rgba>(static_cast<std::size_t>(size) * size)};
  for (int py = 0; py < size; ++py) {
    for (int px = 0; px < size; ++px) {
      double r = 0, g = 0, b = 0, a = 0;
      for (int sy = 0; sy < ss; ++sy) {
        for (int sx = 0; sx < ss; ++sx) {
          double x = (px + (sx + 0.5) / ss) / size;
          double y = (py + (sy + 0.5) / ss) / size;
          Rgba s = Sample(x, y);
          r += s.r * s.a;
          g += s.g * s.a;
          b += s.b * s.a;
          a += s.a;
        }
      }
      Rgba& out = image.pixels[static_cast<std::size_t>(py) * size + px];
      if (a > 0) {
        out = {r / a, g / a, b / a, a / (ss * ss)};
      } else {
        out = {0, 0, 0, 0};
      }
    }
  }
  return image;
}

// ---- palettes -------------------------------------------------------------------------------

struct Rgb {
  std::uint8_t r, g, b;
};

// The sixteen colours of the standard Windows palette, in their usual order.
std::vector<Rgb> Palette16() {
  return {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
          {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
          {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
          {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
}

// A 6 x 6 x 6 colour cube (black first, white last) followed by 40 shades of blue.
std::vector<Rgb> Palette256() {
  std::vector<Rgb> palette;
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 6; ++b)
        palette.push_back({static_cast<std::uint8_t>(r * 51), static_cast<std::uint8_t>(g * 51),
                           static_cast<std::uint8_t>(b * 51)});
  for (int i = 0; i < 40; ++i) {
    double t = i / 39.0;
    palette.push_back({static_cast<std::uint8_t>(std::lround(16 + 32 * t)),
                       static_cast<std::uint8_t>(std::lround(72 + 56 * t)),
                       static_cast<std::uint8_t>(std::lround(160 + 56 * t))});
  }
  return palette;
}

int Nearest(const std::vector<Rgb>& palette, const Rgba& c) {
  int best = 0;
  double bestDistance = 1e30;
  for (std::size_t i = 0; i < palette.size(); ++i) {
    double dr = palette[i].r - c.r, dg = palette[i].g - c.g, db = palette[i].b - c.b;
    double d = dr * dr + dg * dg + db * db;
    if (d < bestDistance) {
      bestDistance = d;
      best = static_cast<int>(i);
    }
  }
  return best;
}

std::uint8_t Byte(double v) {
  return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}

// ---- resource encoding ------------------------------------------------------------------------

void Put16(std::vector<std::uint8_t>& out, unsigned v) {
  out.push_back(static_cast<std::uint8_t>(v & 0xFF));
  out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

std::size_t RowBytes(int width, int bits) { return ((static_cast<std::size_t>(width) * bits + 31) / 32) * 4; }

// The RT_ICON data of one image at `bits` per pixel (4, 8, 24 or 32).
std::vector<std::uint8_t> EncodeIcon(const Image& image, int bits) {
  const int n = image.size;
  const bool opaqueMask = bits == 32;  // 32-bit images carry alpha; the mask marks alpha 0 only
  std::vector<Rgb> palette;
  if (bits == 4) palette = Palette16();
  if (bits == 8) palette = Palette256();

  auto transparent = [&](const Rgba& p) { return opaqueMask ? p.a <= 0.0 : p.a < 0.5; };

  const std::size_t xorRow = RowBytes(n, bits), andRow = RowBytes(n, 1);
  std::vector<std::uint8_t> xorBits(xorRow * n, 0), andBits(andRow * n, 0);
  for (int y = 0; y < n; ++y) {
    const std::size_t row = static_cast<std::size_t>(n - 1 - y);  // bottom-up
    std::uint8_t* xr = &xorBits[row * xorRow];
    std::uint8_t* ar = &andBits[row * andRow];
    for (int x = 0; x < n; ++x) {
      const Rgba& p = image.pixels[static_cast<std::size_t>(y) * n + x];
      bool clear = transparent(p);
      if (clear) ar[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
      switch (bits) {
        case 4: {
          int index = clear ? 0 : Nearest(palette, p);
          xr[x / 2] |= static_cast<std::uint8_t>(x % 2 == 0 ? index << 4 : index);
          break;
        }
        case 8:
          xr[x] = static_cast<std::uint8_t>(clear ? 0 : Nearest(palette, p));
          break;
        case 24:
          if (!clear) {
            xr[x * 3 + 0] = Byte(p.b);
            xr[x * 3 + 1] = Byte(p.g);
            xr[x * 3 + 2] = Byte(p.r);
          }
          break;
        case 32:
          if (!clear) {
            xr[x * 4 + 0] = Byte(p.b);
            xr[x * 4 + 1] = Byte(p.g);
            xr[x * 4 + 2] = Byte(p.r);
            xr[x * 4 + 3] = Byte(p.a * 255);
          }
          break;
      }
    }
  }

  std::vector<std::uint8_t> out;
  Put32(out, 40);                           // biSize
  Put32(out, static_cast<std::uint32_t>(n));          // biWidth
  Put32(out, static_cast<std::uint32_t>(2 * n));      // biHeight: colour bitmap and mask
  Put16(out, 1);                            // biPlanes
  Put16(out, static_cast<unsigned>(bits));  // biBitCount
  Put32(out, 0);                            // biCompression: BI_RGB
  Put32(out, static_cast<std::uint32_t>(xorBits.size() + andBits.size()));  // biSizeImage
  Put32(out, 0);                            // biXPelsPerMeter
  Put32(out, 0);                            // biYPelsPerMeter
  Put32(out, 0);                            // biClrUsed: the full table for the bit count
  Put32(out, 0);                            // biClrImportant
  for (const Rgb& c : palette) {
    out.push_back(c.b);
    out.push_back(c.g);
    out.push_back(c.r);
    out.push_back(0);
  }
  out.insert(out.end(), xorBits.begin(), xorBits.end());
  out.insert(out.end(), andBits.begin(), andBits.end());
  return out;
}

struct Entry {
  int id;
  int size;
  int bits;
};

bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& data) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
  ok = std::fclose(f) == 0 && ok;
  if (!ok) std::fprintf(stderr, "icongen: cannot write %s\n", path.c_str());
  return ok;
}

// Writes the images of one group and the group directory that names them.
bool WriteGroup(const std::string& dir, const std::string& groupName,
                const std::vector<Entry>& entries) {
  std::vector<std::uint8_t> group;
  Put16(group, 0);  // idReserved
  Put16(group, 1);  // idType: icon
  Put16(group, static_cast<unsigned>(entries.size()));
  for (const Entry& e : entries) {
    std::vector<std::uint8_t> data = EncodeIcon(Draw(e.size), e.bits);
    if (!WriteFile(dir + "/icon_" + std::to_string(e.id) + ".bin", data)) return false;
    group.push_back(static_cast<std::uint8_t>(e.size == 256 ? 0 : e.size));  // bWidth
    group.push_back(static_cast<std::uint8_t>(e.size == 256 ? 0 : e.size));  // bHeight
    group.push_back(static_cast<std::uint8_t>(e.bits < 8 ? 1 << e.bits : 0));  // bColorCount
    group.push_back(0);                                                       // bReserved
    Put16(group, 1);                                       // wPlanes
    Put16(group, static_cast<unsigned>(e.bits));           // wBitCount
    Put32(group, static_cast<std::uint32_t>(data.size())); // dwBytesInRes
    Put16(group, static_cast<unsigned>(e.id));             // nId
  }
  return WriteFile(dir + "/" + groupName, group);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: icongen OUTPUT_DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  const std::vector<Entry> neutral = {
      {30001, 32, 8}, {30002, 16, 8}, {30003, 32, 32}, {30004, 16, 32}};
  const std::vector<Entry> german = {
      {1, 16, 4}, {2, 32, 4}, {3, 16, 32}, {4, 32, 24}, {5, 48, 32}};
  if (!WriteGroup(dir, "group_neutral.bin", neutral)) return 1;
  if (!WriteGroup(dir, "group_german.bin", german)) return 1;
  return 0;
}
