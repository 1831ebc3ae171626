// An independent, deliberately plain model of Orrelind for the tests: the
// warp written out pixel by pixel and byte by byte, with separate sin and
// cos, every weight and the final 1 / D applied even where they are 1, and
// no block copies. The plug-in's output must match it to the bit.
#pragma once

#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <utility>

#include "plugin_host.h"

namespace orrelind_model {

enum { WHIRL, PINCH, RADIUS, CENTER_X, CENTER_Y, PARAM_COUNT };

// Called through pointers the compiler cannot see through, so that it cannot
// merge the two calls into one sincos: the model must use the two functions
// themselves.
extern double (*volatile sin_fn)(double);
extern double (*volatile cos_fn)(double);
extern double (*volatile atan2_fn)(double, double);

struct settings {
  double v[PARAM_COUNT] = {0.5, 0.5, 0.5, 0.5, 0.5};
};

// Defaults with the listed (index, value) pairs changed.
inline settings with(std::initializer_list<std::pair<int, double>> changes) {
  settings s;
  for (const auto& [i, v] : changes) s.v[i] = v;
  return s;
}

// What a stored value becomes: NaN and everything from 1 up is 1, everything
// below 0 is 0.
inline double stored(double x) {
  if (std::isnan(x)) return 1.0;
  return std::fmin(std::fmax(x, 0.0), 1.0);
}

struct geometry {
  double radius, whirl, pinch, cx, cy;
  unsigned width, height;
};

inline geometry geometry_of(const settings& s, unsigned w, unsigned h) {
  geometry g;
  g.width = w;
  g.height = h;
  g.radius = double(w < h ? w : h) * s.v[RADIUS];
  g.whirl = s.v[WHIRL] * 25.132741228718345 + -12.566370614359172;
  g.pinch = s.v[PINCH] * 2.0 + -1.0;
  g.cx = double(w - 1) * s.v[CENTER_X];
  g.cy = double(h - 1) * s.v[CENTER_Y];
  return g;
}

inline bool passes_through(const geometry& g) {
  return g.radius < 0.5 || (std::fabs(g.whirl) < 1e-12 && std::fabs(g.pinch) < 1e-12);
}

// The source point of output pixel (x, y), clamped into the frame; false when
// the pixel is not warped (on or outside the circle, or on the centre).
inline bool source_point(const geometry& g, unsigned x, unsigned y, double* sx, double* sy) {
  const double inv = 1.0 / g.radius;
  const double dy = double(y) - g.cy;
  const double dy2 = dy * dy;
  const double dx = double(x) - g.cx;
  const double r = std::sqrt(dx * dx + dy2) * inv;
  if (r >= 1.0 || r < 1e-12) return false;
  const double t = 1.0 - r;
  const double t2 = t * t;
  const double theta = atan2_fn(dy, dx) + t2 * g.whirl;
  double rho = (t2 * g.pinch + 1.0) * r;
  if (!(rho > 0.0)) rho = 0.0;
  rho = rho * g.radius;
  double px = cos_fn(theta) * rho + g.cx;
  double py = sin_fn(theta) * rho + g.cy;
  if (!(px > 0.0)) px = 0.0;
  if (double(g.width - 1) < px) px = double(g.width - 1);
  if (!(py > 0.0)) py = 0.0;
  if (double(g.height - 1) < py) py = double(g.height - 1);
  *sx = px;
  *sy = py;
  return true;
}

inline unsigned to_byte(double v) {
  if (!(v > 0.0)) v = 0.0;
  if (!(v < 255.0)) v = 255.0;
  return unsigned(v + 0.5);
}

inline uint32_t resample(const testhost::frame& src, unsigned w, unsigned h, double sx, double sy) {
  using testhost::byte_of;
  const unsigned x0 = unsigned(sx), y0 = unsigned(sy);
  const unsigned x1 = x0 + 1 < w ? x0 + 1 : w - 1;
  const unsigned y1 = y0 + 1 < h ? y0 + 1 : h - 1;
  const double fx = sx - x0, fy = sy - y0;
  const uint32_t p00 = src[size_t(y0) * w + x0], p10 = src[size_t(y0) * w + x1];
  const uint32_t p01 = src[size_t(y1) * w + x0], p11 = src[size_t(y1) * w + x1];
  const double a00 = byte_of(p00, 3), a10 = byte_of(p10, 3);
  const double a01 = byte_of(p01, 3), a11 = byte_of(p11, 3);
  const double top = (a10 - a00) * fx + a00;
  const double bottom = (a11 - a01) * fx + a01;
  const double A = (bottom - top) * fy + top;
  const unsigned alpha = to_byte(A);
  if (alpha == 0) return 0;
  double w00 = 1, w10 = 1, w01 = 1, w11 = 1, D = 1;
  if (!(a00 == a10 && a00 == a01 && a00 == a11)) {
    w00 = a00, w10 = a10, w01 = a01, w11 = a11;
    D = A;
  }
  const double k = 1.0 / D;
  unsigned char out[4];
  for (int b = 0; b < 3; ++b) {
    const double q00 = byte_of(p00, b) * w00, q10 = byte_of(p10, b) * w10;
    const double q01 = byte_of(p01, b) * w01, q11 = byte_of(p11, b) * w11;
    const double ctop = (q10 - q00) * fx + q00;
    const double v = (q01 - ctop) + (q11 - q01) * fx;
    const double m = v * fy + ctop;
    out[b] = (unsigned char)to_byte(m * k);
  }
  out[3] = (unsigned char)alpha;
  return testhost::pixel(out[0], out[1], out[2], out[3]);
}

inline testhost::frame warp(const testhost::frame& in, unsigned w, unsigned h, const settings& s) {
  const geometry g = geometry_of(s, w, h);
  if (passes_through(g)) return in;
  testhost::frame out(in.size());
  for (unsigned y = 0; y < h; ++y)
    for (unsigned x = 0; x < w; ++x) {
      double sx, sy;
      out[size_t(y) * w + x] =
          source_point(g, x, y, &sx, &sy) ? resample(in, w, h, sx, sy) : in[size_t(y) * w + x];
    }
  return out;
}

}  // namespace orrelind_model
