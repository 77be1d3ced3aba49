// Draws the sample stimuli of ピョコラン and writes them into a stim folder:
//   bg.bmp                      1024 x 768 meadow
//   tgtpokko1.bmp, tgtpokko2.bmp  the target creature (a round orange mole), not struck and struck
//   dstpokko1.bmp, dstpokko2.bmp  the distractor creature (a spiky violet imp), the same
//   tgtpokko.wav, dstpokko.wav    a bright chime and a low buzz, 16-bit PCM mono
// Creature pictures are 128 x 128 with their transparent parts in pure green 0x00FF00 and a
// hard outer edge (no pixel mixes creature and green). The hole opening of a cell is an
// ellipse centred at (64, 100) with semi-axes 64 x 24 and the ground in front covers what is
// below row 100 outside it, so the creatures' bodies run down to the bottom edge and sit
// inside the opening.
//
// With --icons it draws the program's icon instead: the target creature rising out of its
// hole, as PNG files pyokoran-<size>.png for the usual icon sizes, transparent around it; the
// same sizes together as the Windows icon pyokoran.ico; and pyokoran-installer.bmp, the
// picture on the Windows installer's first and last pages (the icon over the meadow).
//
// Usage: make_stimuli <output folder>
//        make_stimuli --icons <output folder>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr uint32_t kKeyGreen = 0x00FF00;

struct Colour {
  int r, g, b;
};

// ---- Shapes as signed distances (negative inside), in pixel units -----------------------

// A signed distance with the box (x0, y0, x1, y1) outside which it is positive.
struct Shape {
  std::function<double(double x, double y)> distance;
  double x0, y0, x1, y1;
  double operator()(double x, double y) const { return distance(x, y); }
};

Shape Circle(double cx, double cy, double radius) {
  return {[=](double x, double y) { return std::hypot(x - cx, y - cy) - radius; },
          cx - radius, cy - radius, cx + radius, cy + radius};
}

// Close to a true distance near the edge, which is all outlines need.
Shape Ellipse(double cx, double cy, double rx, double ry) {
  return {[=](double x, double y) {
            double u = (x - cx) / rx, v = (y - cy) / ry;
            double k = std::hypot(u, v);
            if (k == 0) return -std::min(rx, ry);
            // (u^2 + v^2 - 1) over the length of its gradient.
            return (k * k - 1) / (2 * std::hypot(u / rx, v / ry));
          },
          cx - rx, cy - ry, cx + rx, cy + ry};
}

Shape RoundRect(double x0, double y0, double x1, double y1, double radius) {
  double cx = (x0 + x1) / 2, cy = (y0 + y1) / 2;
  double hx = (x1 - x0) / 2 - radius, hy = (y1 - y0) / 2 - radius;
  return {[=](double x, double y) {
            double qx = std::abs(x - cx) - hx, qy = std::abs(y - cy) - hy;
            return std::hypot(std::max(qx, 0.0), std::max(qy, 0.0)) +
                   std::min(std::max(qx, qy), 0.0) - radius;
          },
          x0, y0, x1, y1};
}

// A stroke of width w along the segment (ax, ay) - (bx, by), round ends.
Shape Stroke(double ax, double ay, double bx, double by, double w) {
  return {[=](double x, double y) {
            double px = x - ax, py = y - ay, dx = bx - ax, dy = by - ay;
            double t = std::clamp((px * dx + py * dy) / (dx * dx + dy * dy), 0.0, 1.0);
            return std::hypot(px - t * dx, py - t * dy) - w / 2;
          },
          std::min(ax, bx) - w, std::min(ay, by) - w, std::max(ax, bx) + w, std::max(ay, by) + w};
}

// A stroke of width w along the arc of radius r from angle a0 to a1 (radians, y down).
Shape Arc(double cx, double cy, double r, double a0, double a1, double w) {
  return {[=](double x, double y) {
            double a = std::atan2(y - cy, x - cx);
            if (a < a0) a += 2 * kPi;
            if (a >= a0 && a <= a1) return std::abs(std::hypot(x - cx, y - cy) - r) - w / 2;
            double e0 = std::hypot(x - (cx + r * std::cos(a0)), y - (cy + r * std::sin(a0)));
            double e1 = std::hypot(x - (cx + r * std::cos(a1)), y - (cy + r * std::sin(a1)));
            return std::min(e0, e1) - w / 2;
          },
          cx - r - w, cy - r - w, cx + r + w, cy + r + w};
}

Shape Polygon(std::vector<std::array<double, 2>> v) {
  double x0 = 1e9, y0 = 1e9, x1 = -1e9, y1 = -1e9;
  for (auto& p : v) {
    x0 = std::min(x0, p[0]), y0 = std::min(y0, p[1]);
    x1 = std::max(x1, p[0]), y1 = std::max(y1, p[1]);
  }
  return {[v](double x, double y) {
            double d = (x - v[0][0]) * (x - v[0][0]) + (y - v[0][1]) * (y - v[0][1]);
            double s = 1;
            for (size_t i = 0, j = v.size() - 1; i < v.size(); j = i, ++i) {
              double ex = v[j][0] - v[i][0], ey = v[j][1] - v[i][1];
              double wx = x - v[i][0], wy = y - v[i][1];
              double t = std::clamp((wx * ex + wy * ey) / (ex * ex + ey * ey), 0.0, 1.0);
              double bx = wx - ex * t, by = wy - ey * t;
              d = std::min(d, bx * bx + by * by);
              bool c1 = y >= v[i][1], c2 = y < v[j][1], c3 = ex * wy > ey * wx;
              if ((c1 && c2 && c3) || (!c1 && !c2 && !c3)) s = -s;
            }
            return s * std::sqrt(d);
          },
          x0, y0, x1, y1};
}

Shape Star(double cx, double cy, double outer, double inner, int points, double turn = 0) {
  std::vector<std::array<double, 2>> v;
  for (int i = 0; i < 2 * points; ++i) {
    double a = -kPi / 2 + turn + i * kPi / points;
    double r = i % 2 ? inner : outer;
    v.push_back({cx + r * std::cos(a), cy + r * std::sin(a)});
  }
  return Polygon(v);
}

Shape Union(Shape a, Shape b) {
  return {[=](double x, double y) { return std::min(a(x, y), b(x, y)); },
          std::min(a.x0, b.x0), std::min(a.y0, b.y0), std::max(a.x1, b.x1), std::max(a.y1, b.y1)};
}

// ---- A supersampled canvas --------------------------------------------------------------

// Shapes are given in units; a pixel is `unit` units wide (1 but for the icons).
class Canvas {
 public:
  Canvas(int width, int height, int samples, double unit = 1)
      : w_(width), h_(height), ss_(samples), unit_(unit), colour_(size_t(w_ * ss_) * h_ * ss_),
        opaque_(colour_.size(), 0) {}

  // Fills shape grown by grow pixels (an outline when drawn before the shape itself).
  void Fill(const Shape& shape, Colour c, double grow = 0) {
    auto first = [&](double v, int limit) {
      return std::clamp(int(std::floor(v / unit_ * ss_)), 0, limit);
    };
    const int sx0 = first(shape.x0 - grow - 1, w_ * ss_), sx1 = first(shape.x1 + grow + 1, w_ * ss_);
    const int sy0 = first(shape.y0 - grow - 1, h_ * ss_), sy1 = first(shape.y1 + grow + 1, h_ * ss_);
    for (int sy = sy0; sy < sy1; ++sy) {
      for (int sx = sx0; sx < sx1; ++sx) {
        double x = (sx + 0.5) / ss_ * unit_, y = (sy + 0.5) / ss_ * unit_;
        if (shape(x, y) < grow) Set(sx, sy, c);
      }
    }
  }
  // Outline of width t, then the shape.
  void Outlined(const Shape& shape, Colour fill, Colour line, double t = 2.5) {
    Fill(shape, line, t);
    Fill(shape, fill);
  }
  void Each(const std::function<Colour(double x, double y)>& paint) {
    for (int sy = 0; sy < h_ * ss_; ++sy)
      for (int sx = 0; sx < w_ * ss_; ++sx) Set(sx, sy, paint((sx + 0.5) / ss_, (sy + 0.5) / ss_));
  }
  // Everything outside shape becomes transparent again.
  void KeepInside(const Shape& shape) {
    for (int sy = 0; sy < h_ * ss_; ++sy)
      for (int sx = 0; sx < w_ * ss_; ++sx)
        if (shape((sx + 0.5) / ss_ * unit_, (sy + 0.5) / ss_ * unit_) >= 0)
          opaque_[size_t(sy) * size_t(w_ * ss_) + size_t(sx)] = 0;
  }
  Colour Sample(int sx, int sy) const {
    uint32_t v = colour_[size_t(sy) * size_t(w_ * ss_) + size_t(sx)];
    return {int(v >> 16), int(v >> 8 & 0xFF), int(v & 0xFF)};
  }

  // Pixels 0xAARRGGBB, top row first, alpha from the share of covered samples.
  std::vector<uint32_t> ResolveAlpha() const {
    std::vector<uint32_t> out(size_t(w_) * h_);
    for (int py = 0; py < h_; ++py) {
      for (int px = 0; px < w_; ++px) {
        int n = 0, r = 0, g = 0, b = 0;
        for (int j = 0; j < ss_; ++j) {
          for (int i = 0; i < ss_; ++i) {
            size_t at = size_t(py * ss_ + j) * size_t(w_ * ss_) + size_t(px * ss_ + i);
            if (!opaque_[at]) continue;
            ++n;
            r += int(colour_[at] >> 16), g += int(colour_[at] >> 8 & 0xFF), b += int(colour_[at] & 0xFF);
          }
        }
        if (n == 0) continue;
        const uint32_t alpha = uint32_t((255 * n + ss_ * ss_ / 2) / (ss_ * ss_));
        out[size_t(py) * w_ + px] = alpha << 24 | uint32_t((r + n / 2) / n) << 16 |
                                    uint32_t((g + n / 2) / n) << 8 | uint32_t((b + n / 2) / n);
      }
    }
    return out;
  }

  // Pixels 0x00RRGGBB, top row first. A pixel less than half covered is the key colour;
  // a covered one averages only its covered samples, so no edge mixes in the key.
  std::vector<uint32_t> Resolve() const {
    std::vector<uint32_t> out(size_t(w_) * h_);
    for (int py = 0; py < h_; ++py) {
      for (int px = 0; px < w_; ++px) {
        int n = 0, r = 0, g = 0, b = 0;
        for (int j = 0; j < ss_; ++j) {
          for (int i = 0; i < ss_; ++i) {
            size_t at = size_t(py * ss_ + j) * size_t(w_ * ss_) + size_t(px * ss_ + i);
            if (!opaque_[at]) continue;
            ++n;
            r += int(colour_[at] >> 16), g += int(colour_[at] >> 8 & 0xFF), b += int(colour_[at] & 0xFF);
          }
        }
        uint32_t pixel = kKeyGreen;
        if (2 * n >= ss_ * ss_) {
          pixel = uint32_t((r + n / 2) / n) << 16 | uint32_t((g + n / 2) / n) << 8 |
                  uint32_t((b + n / 2) / n);
          if (pixel == kKeyGreen) pixel = 0x01FF00;  // never the key by accident
        }
        out[size_t(py) * w_ + px] = pixel;
      }
    }
    return out;
  }

 private:
  void Set(int sx, int sy, Colour c) {
    size_t at = size_t(sy) * size_t(w_ * ss_) + size_t(sx);
    colour_[at] = uint32_t(std::clamp(c.r, 0, 255)) << 16 | uint32_t(std::clamp(c.g, 0, 255)) << 8 |
                  uint32_t(std::clamp(c.b, 0, 255));
    opaque_[at] = 1;
  }
  int w_, h_, ss_;
  double unit_;
  std::vector<uint32_t> colour_;
  std::vector<uint8_t> opaque_;
};

// ---- Files ------------------------------------------------------------------------------

void Put(std::vector<uint8_t>& out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

bool Write(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = std::fclose(f) == 0 && ok;
  std::printf("%s %s (%zu bytes)\n", ok ? "wrote" : "FAILED", path.c_str(), bytes.size());
  return ok;
}

// 24-bit bottom-up BMP with the usual 54 bytes of headers.
std::vector<uint8_t> Bmp(int width, int height, const std::vector<uint32_t>& pixels) {
  const uint32_t stride = uint32_t((width * 3 + 3) / 4 * 4);
  std::vector<uint8_t> b;
  b.push_back('B');
  b.push_back('M');
  Put(b, 54 + stride * uint32_t(height), 4);
  Put(b, 0, 4);
  Put(b, 54, 4);
  Put(b, 40, 4);
  Put(b, uint32_t(width), 4);
  Put(b, uint32_t(height), 4);
  Put(b, 1, 2);
  Put(b, 24, 2);
  Put(b, 0, 4);
  Put(b, stride * uint32_t(height), 4);
  Put(b, 2835, 4);  // 72 dpi
  Put(b, 2835, 4);
  Put(b, 0, 4);
  Put(b, 0, 4);
  for (int y = height - 1; y >= 0; --y) {
    for (int x = 0; x < width; ++x) {
      uint32_t p = pixels[size_t(y) * width + x];
      b.push_back(uint8_t(p));
      b.push_back(uint8_t(p >> 8));
      b.push_back(uint8_t(p >> 16));
    }
    for (uint32_t pad = uint32_t(width) * 3; pad < stride; ++pad) b.push_back(0);
  }
  return b;
}

std::vector<uint8_t> Wav(const std::vector<double>& samples, uint32_t rate) {
  std::vector<uint8_t> b;
  uint32_t data = uint32_t(samples.size() * 2);
  b.insert(b.end(), {'R', 'I', 'F', 'F'});
  Put(b, 36 + data, 4);
  b.insert(b.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  Put(b, 16, 4);
  Put(b, 1, 2);  // PCM
  Put(b, 1, 2);  // mono
  Put(b, rate, 4);
  Put(b, rate * 2, 4);
  Put(b, 2, 2);
  Put(b, 16, 2);
  b.insert(b.end(), {'d', 'a', 't', 'a'});
  Put(b, data, 4);
  for (double s : samples) {
    int v = int(std::lround(std::clamp(s, -1.0, 1.0) * 32767));
    Put(b, uint32_t(uint16_t(int16_t(v))), 2);
  }
  return b;
}

// PNG, 8-bit RGBA, from pixels 0xAARRGGBB; the image data in stored (uncompressed) deflate
// blocks, which every reader takes and which needs no compressor.
uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0) {
  crc = ~crc;
  for (size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void PutBig(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 3; i >= 0; --i) out.push_back(uint8_t(v >> (8 * i)));
}

void Chunk(std::vector<uint8_t>& png, const char* type, const std::vector<uint8_t>& data) {
  PutBig(png, uint32_t(data.size()));
  const size_t start = png.size();
  png.insert(png.end(), type, type + 4);
  png.insert(png.end(), data.begin(), data.end());
  PutBig(png, Crc32(png.data() + start, png.size() - start));
}

std::vector<uint8_t> Png(int width, int height, const std::vector<uint32_t>& pixels) {
  std::vector<uint8_t> raw;  // each row: filter type 0, then R G B A
  for (int y = 0; y < height; ++y) {
    raw.push_back(0);
    for (int x = 0; x < width; ++x) {
      uint32_t p = pixels[size_t(y) * width + x];
      raw.insert(raw.end(), {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p), uint8_t(p >> 24)});
    }
  }
  std::vector<uint8_t> z = {0x78, 0x01};
  uint32_t a = 1, b = 0;  // Adler-32
  for (uint8_t v : raw) a = (a + v) % 65521, b = (b + a) % 65521;
  for (size_t at = 0; at < raw.size() || at == 0; at += 65535) {
    const size_t n = std::min<size_t>(65535, raw.size() - at);
    z.push_back(at + n == raw.size() ? 1 : 0);
    Put(z, uint32_t(n), 2);
    Put(z, uint32_t(~n & 0xFFFF), 2);
    z.insert(z.end(), raw.begin() + long(at), raw.begin() + long(at + n));
  }
  PutBig(z, b << 16 | a);

  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> header;
  PutBig(header, uint32_t(width));
  PutBig(header, uint32_t(height));
  header.insert(header.end(), {8, 6, 0, 0, 0});  // 8 bits, RGBA, deflate, no filter, no interlace
  Chunk(png, "IHDR", header);
  Chunk(png, "IDAT", z);
  Chunk(png, "IEND", {});
  return png;
}

std::vector<uint32_t> MoleIcon(int size);
std::vector<uint32_t> Meadow();

// A Windows icon file holding every size: 32-bit pictures with their AND masks, the 256-pixel
// one as PNG (as the system's own icons hold it).
std::vector<uint8_t> Ico(const std::vector<int>& sizes) {
  std::vector<std::vector<uint8_t>> images;
  for (int size : sizes) {
    const std::vector<uint32_t> pixels = MoleIcon(size);
    if (size >= 256) {
      images.push_back(Png(size, size, pixels));
      continue;
    }
    std::vector<uint8_t> b;
    Put(b, 40, 4);
    Put(b, uint32_t(size), 4);
    Put(b, uint32_t(size * 2), 4);  // the picture and its mask
    Put(b, 1, 2);
    Put(b, 32, 2);
    for (int i = 0; i < 6; ++i) Put(b, 0, 4);
    for (int y = size - 1; y >= 0; --y) {
      for (int x = 0; x < size; ++x) Put(b, pixels[size_t(y) * size + x], 4);  // B G R A
    }
    const int mask_stride = (size + 31) / 32 * 4;
    for (int y = size - 1; y >= 0; --y) {
      std::vector<uint8_t> row(size_t(mask_stride), 0);
      for (int x = 0; x < size; ++x) {
        if ((pixels[size_t(y) * size + x] >> 24) == 0) row[size_t(x / 8)] |= uint8_t(0x80 >> (x % 8));
      }
      b.insert(b.end(), row.begin(), row.end());
    }
    images.push_back(std::move(b));
  }
  std::vector<uint8_t> ico;
  Put(ico, 0, 2);
  Put(ico, 1, 2);  // an icon
  Put(ico, uint32_t(sizes.size()), 2);
  uint32_t offset = uint32_t(6 + 16 * sizes.size());
  for (size_t i = 0; i < sizes.size(); ++i) {
    const uint32_t side = sizes[i] >= 256 ? 0 : uint32_t(sizes[i]);  // 0 stands for 256
    Put(ico, side, 1);
    Put(ico, side, 1);
    Put(ico, 0, 2);  // no palette, reserved
    Put(ico, 1, 2);
    Put(ico, 32, 2);
    Put(ico, uint32_t(images[i].size()), 4);
    Put(ico, offset, 4);
    offset += uint32_t(images[i].size());
  }
  for (const auto& image : images) ico.insert(ico.end(), image.begin(), image.end());
  return ico;
}

// ---- The pictures -----------------------------------------------------------------------

// Deterministic noise in [0, 1) for the meadow.
double Hash(int x, int y, int seed) {
  uint32_t h = uint32_t(x) * 374761393u + uint32_t(y) * 668265263u + uint32_t(seed) * 2246822519u;
  h = (h ^ (h >> 13)) * 1274126177u;
  return double((h ^ (h >> 16)) & 0xFFFFFF) / double(0x1000000);
}
double Smooth(double x, double y, double cell, int seed) {
  double gx = x / cell, gy = y / cell;
  int ix = int(std::floor(gx)), iy = int(std::floor(gy));
  double fx = gx - ix, fy = gy - iy;
  fx = fx * fx * (3 - 2 * fx);
  fy = fy * fy * (3 - 2 * fy);
  double a = Hash(ix, iy, seed), b = Hash(ix + 1, iy, seed);
  double c = Hash(ix, iy + 1, seed), d = Hash(ix + 1, iy + 1, seed);
  return (a + (b - a) * fx) * (1 - fy) + (c + (d - c) * fx) * fy;
}

std::vector<uint32_t> Meadow() {
  Canvas c(1024, 768, 2);
  c.Each([](double x, double y) {
    double t = y / 768.0;
    double n = 0.6 * Smooth(x, y, 90, 1) + 0.4 * Smooth(x, y, 23, 2) - 0.5;
    // Lighter, warmer grass far away (top), deeper green near (bottom).
    double r = 150 - 60 * t + 30 * n, g = 205 - 40 * t + 30 * n, b = 95 - 30 * t + 14 * n;
    return Colour{int(r), int(g), int(b)};
  });
  // Grass tufts: three short blades each, a shade darker than the ground.
  for (int i = 0; i < 420; ++i) {
    double x = 10 + 1004 * Hash(i, 0, 7), y = 12 + 750 * Hash(i, 1, 7);
    double s = 0.7 + 0.6 * (y / 768.0);
    Colour blade{int(70 - 20 * y / 768), int(150 - 30 * y / 768), int(50 - 10 * y / 768)};
    c.Fill(Stroke(x, y, x - 4 * s, y - 9 * s, 1.6 * s), blade);
    c.Fill(Stroke(x, y, x, y - 12 * s, 1.6 * s), blade);
    c.Fill(Stroke(x, y, x + 4 * s, y - 9 * s, 1.6 * s), blade);
  }
  // Small flowers: five petals round a yellow heart.
  const Colour petals[3] = {{255, 255, 255}, {255, 190, 220}, {190, 200, 255}};
  for (int i = 0; i < 70; ++i) {
    double x = 14 + 996 * Hash(i, 2, 9), y = 40 + 720 * Hash(i, 3, 9);
    double s = 0.8 + 0.5 * (y / 768.0);
    Colour p = petals[i % 3];
    for (int k = 0; k < 5; ++k) {
      double a = k * 2 * kPi / 5 + i;
      c.Fill(Circle(x + 3.4 * s * std::cos(a), y + 3.4 * s * std::sin(a), 2.6 * s), p);
    }
    c.Fill(Circle(x, y, 2.0 * s), {250, 200, 40});
  }
  return c.Resolve();
}

// The target: a round orange mole, smiling, paws on the rim. Struck: squeezed eyes, an
// open mouth, a bump and stars.
void DrawMole(Canvas& c, bool struck) {
  const Colour fur{250, 146, 48}, line{104, 50, 18}, belly{255, 226, 172}, pink{255, 140, 160};
  const Colour dark{60, 30, 20}, white{255, 255, 255};
  Shape head = Circle(64, 52, 40);
  Shape body = RoundRect(25, 52, 103, 150, 30);
  c.Outlined(Circle(30, 22, 11), fur, line);
  c.Outlined(Circle(98, 22, 11), fur, line);
  c.Fill(Circle(30, 22, 5.5), pink);
  c.Fill(Circle(98, 22, 5.5), pink);
  c.Outlined(Union(head, body), fur, line);
  c.Fill(Ellipse(64, 104, 27, 30), belly);
  if (struck) {
    c.Outlined(Circle(72, 13, 8), {255, 170, 80}, line, 2);  // the bump
    for (double ex : {46.0, 82.0}) {                         // eyes squeezed shut: > <
      double d = ex < 64 ? 1 : -1;
      c.Fill(Stroke(ex - 7 * d, 38, ex + 6 * d, 45, 3.5), dark);
      c.Fill(Stroke(ex + 6 * d, 45, ex - 7 * d, 52, 3.5), dark);
    }
    c.Outlined(Ellipse(64, 75, 8, 7), {200, 40, 50}, dark, 1.5);  // "ouch"
    c.Outlined(Star(16, 16, 11, 5, 5), {255, 232, 40}, {190, 110, 0}, 1.5);
    c.Outlined(Star(112, 40, 9, 4, 5, 0.3), {255, 232, 40}, {190, 110, 0}, 1.5);
  } else {
    for (double ex : {47.0, 81.0}) {
      c.Outlined(Ellipse(ex, 44, 9, 11), white, dark, 1.5);
      c.Fill(Circle(ex + 1.5, 47, 5.5), dark);
      c.Fill(Circle(ex - 1, 43, 2), white);
    }
    c.Fill(Arc(64, 60, 13, 0.25 * kPi, 0.75 * kPi, 3), dark);  // smile
  }
  c.Fill(Ellipse(36, 63, 7, 5), pink);
  c.Fill(Ellipse(92, 63, 7, 5), pink);
  c.Outlined(Ellipse(64, 58, 7.5, 5.5), {230, 80, 110}, dark, 1.2);  // nose
  c.Outlined(Ellipse(31, 96, 11, 8), fur, line);                      // paws on the rim
  c.Outlined(Ellipse(97, 96, 11, 8), fur, line);
}

std::vector<uint32_t> Mole(bool struck) {
  Canvas c(128, 128, 4);
  DrawMole(c, struck);
  return c.Resolve();
}

// The icon: the mole rising out of a dark hole, size x size pixels; the picture's 128 units
// fill the square.
std::vector<uint32_t> MoleIcon(int size) {
  Canvas c(size, size, 4, 128.0 / size);
  const Shape hole = Ellipse(64, 100, 60, 24);
  c.Outlined(hole, {52, 32, 20}, {112, 78, 40}, 3);
  DrawMole(c, false);
  // The ground in front hides the body below the hole's middle, outside its opening.
  c.KeepInside(Union(RoundRect(-200, -200, 328, 100, 0), Ellipse(64, 100, 63, 27)));
  return c.ResolveAlpha();
}

// The distractor: a violet imp with horns and a spiky crest, angry brows and sharp teeth.
// Struck: crossed-out eyes, a wobbly mouth and stars.
std::vector<uint32_t> Imp(bool struck) {
  const Colour skin{126, 78, 222}, line{38, 16, 84}, plate{176, 150, 246};
  const Colour dark{30, 10, 50}, white{255, 255, 255}, horn{236, 236, 250};
  Canvas c(128, 128, 4);
  c.Outlined(Polygon({{22, 40}, {12, 4}, {42, 30}}), horn, line);  // horns
  c.Outlined(Polygon({{106, 40}, {116, 4}, {86, 30}}), horn, line);
  Shape crest = Polygon({{40, 32}, {50, 10}, {57, 28}, {64, 4}, {71, 28}, {78, 10}, {88, 32}});
  c.Outlined(Union(RoundRect(24, 24, 104, 160, 16), crest), skin, line);
  c.Fill(RoundRect(38, 88, 90, 150, 12), plate);
  if (struck) {
    for (double ex : {47.0, 81.0}) {  // X eyes
      c.Fill(Stroke(ex - 7, 48, ex + 7, 62, 3.5), dark);
      c.Fill(Stroke(ex - 7, 62, ex + 7, 48, 3.5), dark);
    }
    std::vector<std::array<double, 2>> wave;
    for (int i = 0; i <= 8; ++i) wave.push_back({44 + 5.0 * i, i % 2 ? 76.0 : 82.0});
    for (size_t i = 0; i + 1 < wave.size(); ++i) {
      c.Fill(Stroke(wave[i][0], wave[i][1], wave[i + 1][0], wave[i + 1][1], 3), dark);
    }
    c.Outlined(Star(14, 58, 10, 4.5, 5), {255, 232, 40}, {190, 110, 0}, 1.5);
    c.Outlined(Star(114, 60, 9, 4, 5, 0.4), {255, 232, 40}, {190, 110, 0}, 1.5);
  } else {
    for (double ex : {47.0, 81.0}) {
      c.Outlined(Ellipse(ex, 56, 9, 8), white, dark, 1.5);
      c.Fill(Circle(ex + (ex < 64 ? 2.5 : -2.5), 57, 4.5), {200, 20, 40});
      c.Fill(Circle(ex + (ex < 64 ? 2.5 : -2.5), 57, 2), dark);
    }
    c.Fill(Stroke(36, 40, 56, 49, 5), dark);  // angry brows
    c.Fill(Stroke(92, 40, 72, 49, 5), dark);
    c.Outlined(RoundRect(42, 70, 86, 86, 4), {90, 0, 30}, dark, 1.5);  // mouth with teeth
    for (int i = 0; i < 5; ++i) {
      double x = 45 + 8.5 * i;
      c.Fill(Polygon({{x, 70}, {x + 8, 70}, {x + 4, 78}}), white);
    }
  }
  c.Outlined(Polygon({{18, 92}, {30, 84}, {42, 94}, {36, 104}, {22, 104}}), skin, line);  // claws
  c.Outlined(Polygon({{110, 92}, {98, 84}, {86, 94}, {92, 104}, {106, 104}}), skin, line);
  return c.Resolve();
}

// ---- The sounds -------------------------------------------------------------------------

constexpr uint32_t kRate = 44100;

// Two bell-like notes a fifth apart, each with a quick attack and a ringing decay.
std::vector<double> Chime() {
  std::vector<double> s(size_t(kRate * 0.45));
  struct Note {
    double start, freq;
  } notes[] = {{0.0, 1318.5}, {0.09, 1975.5}};
  for (size_t i = 0; i < s.size(); ++i) {
    double t = double(i) / kRate, v = 0;
    for (const Note& n : notes) {
      double u = t - n.start;
      if (u < 0) continue;
      double env = std::min(1.0, u / 0.003) * std::exp(-u * 9.0);
      v += env * (std::sin(2 * kPi * n.freq * u) + 0.35 * std::sin(2 * kPi * n.freq * 2.0 * u) +
                  0.12 * std::sin(2 * kPi * n.freq * 3.01 * u));
    }
    double fade = std::min(1.0, (double(s.size() - i) / kRate) / 0.02);
    s[i] = 0.42 * v * fade;
  }
  return s;
}

// A low buzz: a band-limited square wave sliding down from 120 to 90 Hz, with a rattle.
std::vector<double> Buzz() {
  std::vector<double> s(size_t(kRate * 0.38));
  double phase = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    double t = double(i) / kRate;
    double f = 120 - 30 * t / 0.38;
    phase += 2 * kPi * f / kRate;
    double v = 0;
    for (int k = 1; k * f < 3000; k += 2) v += std::sin(k * phase) / k;
    double rattle = 0.75 + 0.25 * std::sin(2 * kPi * 28 * t);
    double env = std::min(1.0, t / 0.005) * std::min(1.0, (0.38 - t) / 0.05);
    s[i] = 0.5 * v * rattle * env;
  }
  return s;
}

// The installer's picture, 164 x 314 as its first and last pages show it: a strip of the
// meadow with the icon standing in it.
std::vector<uint32_t> InstallerPicture() {
  constexpr int kWidth = 164, kHeight = 314, kIcon = 148, kLeft = 430, kTop = 260;
  const std::vector<uint32_t> meadow = Meadow();
  const std::vector<uint32_t> icon = MoleIcon(kIcon);
  std::vector<uint32_t> out(size_t(kWidth) * kHeight);
  const int ix = (kWidth - kIcon) / 2, iy = 70;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      uint32_t p = meadow[size_t(kTop + y) * 1024 + size_t(kLeft + x)];
      if (x >= ix && x < ix + kIcon && y >= iy && y < iy + kIcon) {
        const uint32_t q = icon[size_t(y - iy) * kIcon + size_t(x - ix)];
        const uint32_t a = q >> 24;
        uint32_t mixed = 0;
        for (int shift : {0, 8, 16}) {
          const uint32_t over = q >> shift & 0xFF, under = p >> shift & 0xFF;
          mixed |= ((over * a + under * (255 - a) + 127) / 255) << shift;
        }
        p = mixed;
      }
      out[size_t(y) * kWidth + x] = p & 0xFFFFFF;
    }
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const bool icons = argc == 3 && std::string(argv[1]) == "--icons";
  if (argc != 2 && !icons) {
    std::fprintf(stderr, "usage: make_stimuli <output folder>\n"
                         "       make_stimuli --icons <output folder>\n");
    return 2;
  }
  if (icons) {
    std::error_code error;
    std::filesystem::create_directories(argv[2], error);
    bool ok = true;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
      const std::string name = std::string(argv[2]) + "/pyokoran-" + std::to_string(size) + ".png";
      ok = Write(name, Png(size, size, MoleIcon(size))) && ok;
    }
    const std::string dir = std::string(argv[2]) + "/";
    ok = Write(dir + "pyokoran.ico", Ico({16, 24, 32, 48, 64, 128, 256})) && ok;
    ok = Write(dir + "pyokoran-installer.bmp", Bmp(164, 314, InstallerPicture())) && ok;
    return ok ? 0 : 1;
  }
  std::error_code error;
  std::filesystem::create_directories(argv[1], error);
  const std::string dir = std::string(argv[1]) + "/";
  bool ok = Write(dir + "bg.bmp", Bmp(1024, 768, Meadow()));
  ok = Write(dir + "tgtpokko1.bmp", Bmp(128, 128, Mole(false))) && ok;
  ok = Write(dir + "tgtpokko2.bmp", Bmp(128, 128, Mole(true))) && ok;
  ok = Write(dir + "dstpokko1.bmp", Bmp(128, 128, Imp(false))) && ok;
  ok = Write(dir + "dstpokko2.bmp", Bmp(128, 128, Imp(true))) && ok;
  ok = Write(dir + "tgtpokko.wav", Wav(Chime(), kRate)) && ok;
  ok = Write(dir + "dstpokko.wav", Wav(Buzz(), kRate)) && ok;
  return ok ? 0 : 1;
}
