// The source points of moving values, worked out in vectors, against their
// stated bounds. MPFR gives the true values:
// - every adapter's sine and cosine, and its turn of an offset, within the
//   bounds of orrelind_trig_body.h, over the whole range the warp produces
//   and at its edges;
// - the points of whole warps within the bound D of orrelind_points.h of
//   what an adversarial C library gives, one that errs by the full 8 ulp
//   in atan2, sin and cos either way; every point not in doubt has that
//   library's floors. Points are also placed on and near whole numbers:
//   in doubt exactly within the margin, and a check with a margin below
//   what the library moves them by would let some through;
// - the checked resampling's doubt, with colours placed on rounding
//   boundaries and fractions moved by D either way;
// - and how rarely a real warp falls back to the scalar path.
#include <gtest/gtest.h>
#include <mpfr.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "kernel_levels.h"
#include "orrelind_dispatch.h"
#include "orrelind_model.h"

namespace {

struct adapter {
  std::string name;
  const orrelind_kernel_set* set;
};

// Every set this processor runs that has the vector source points.
std::vector<adapter> vector_sets() {
  std::vector<adapter> all;
  for (const auto& k : runnable_kernel_sets(orrelind_kernel_sets))
    if (k.set->moving) all.push_back({k.name(), k.set});
  return all;
}

// An MPFR number, far more precise than any double involved.
struct exact {
  mpfr_t v;
  exact() { mpfr_init2(v, 128); }
  explicit exact(double d) : exact() { mpfr_set_d(v, d, MPFR_RNDN); }
  ~exact() { mpfr_clear(v); }
  exact(const exact&) = delete;
  exact& operator=(const exact&) = delete;
  double nearest() const { return mpfr_get_d(v, MPFR_RNDN); }
};

// |got - e|.
double error_of(double got, const exact& e) {
  exact d;
  mpfr_sub_d(d.v, e.v, got, MPFR_RNDN);
  mpfr_abs(d.v, d.v, MPFR_RNDN);
  return mpfr_get_d(d.v, MPFR_RNDU);
}

// The double farthest from e towards `direction` (+1 or -1) that a library
// within `ulps` ulp of e may return.
double library_extreme(const exact& e, int direction, double ulps) {
  if (mpfr_zero_p(e.v)) return direction * ulps * 0x1p-1074;
  exact step, bound;
  mpfr_set_d(step.v, ulps, MPFR_RNDN);
  mpfr_mul_2si(step.v, step.v, mpfr_get_exp(e.v) - 53, MPFR_RNDN);
  if (direction > 0)
    mpfr_add(bound.v, e.v, step.v, MPFR_RNDN);
  else
    mpfr_sub(bound.v, e.v, step.v, MPFR_RNDN);
  return mpfr_get_d(bound.v, direction > 0 ? MPFR_RNDD : MPFR_RNDU);
}

uint64_t next(uint64_t* state) {
  *state ^= *state << 13;
  *state ^= *state >> 7;
  *state ^= *state << 17;
  return *state;
}

double uniform(uint64_t* state, double lo, double hi) {
  return lo + (hi - lo) * double(next(state) >> 11) * 0x1p-53;
}

// Pads to whole vectors of the widest adapter.
void pad(std::vector<double>* v) {
  while (v->size() % orrelind_points_lanes) v->push_back(v->empty() ? 0.0 : v->back());
}

// The angles the sine and cosine are asked for: the turn t2 W reaches 4 pi
// either way; the stated range is |a| < 16. Multiples of pi / 2 and the
// reduction's midpoints (k + 1/2) pi with neighbours on both sides, tiny
// and subnormal angles, and random ones.
std::vector<double> angles(size_t random_count) {
  std::vector<double> a = {0.0,     -0.0,     0x1p-1074,          -0x1p-1074,         0x1p-1022,
                           0x1p-60, -0x1p-30, 15.999999999999998, -15.999999999999998};
  for (int k = -10; k <= 10; ++k)
    for (double centre : {k * M_PI / 2, (k + 0.5) * M_PI, k * 12.566370614359172 / 10}) {
      double x = centre;
      for (int i = 0; i < 16; ++i) x = std::nextafter(x, -INFINITY);
      for (int i = 0; i < 33; ++i, x = std::nextafter(x, INFINITY))
        if (std::fabs(x) < 16.0) a.push_back(x);
    }
  uint64_t state = 0x2545F4914F6CDD1Dull;
  for (size_t i = 0; i < random_count; ++i)
    a.push_back(i % 4 ? uniform(&state, -12.5664, 12.5664) : uniform(&state, -16.0, 16.0));
  pad(&a);
  return a;
}

TEST(orrelind_points, sine_and_cosine_within_their_bound_in_every_adapter) {
  const std::vector<double> a = angles(200000);
  for (const adapter& ad : vector_sets()) {
    std::vector<double> s(a.size()), c(a.size());
    ad.set->moving->trig.sincos(a.data(), a.size(), s.data(), c.data());
    double worst = 0.0;
    exact x, e;
    for (size_t i = 0; i < a.size(); ++i) {
      mpfr_set_d(x.v, a[i], MPFR_RNDN);
      mpfr_sin(e.v, x.v, MPFR_RNDN);
      const double es = error_of(s[i], e);
      mpfr_cos(e.v, x.v, MPFR_RNDN);
      const double ec = error_of(c[i], e);
      ASSERT_LE(es, orrelind_sincos_error) << ad.name << " sin " << a[i];
      ASSERT_LE(ec, orrelind_sincos_error) << ad.name << " cos " << a[i];
      worst = std::max({worst, es, ec});
    }
    std::cout << ad.name << ": largest sine or cosine error 2^" << std::log2(worst) << "\n";
  }
}

TEST(orrelind_points, turns_within_their_bound_in_every_adapter) {
  // Offsets from a centre as the warp makes them: whole columns minus a
  // centre that may be anything, so fractions of every size, zero (on the
  // axes) and offsets far below a pixel; frames up to 2^20 pixels a side.
  uint64_t state = 0x9E3779B97F4A7C15ull;
  std::vector<double> x, y, phi;
  const double offsets[] = {0.0, 0x1p-44, 1e-9, 0.5, 1.0, 3.0, 1023.5, 0x1p20};
  for (double ox : offsets)
    for (double oy : offsets)
      for (double turn : {0.0, M_PI / 2, -M_PI, 12.566370614359172, -12.566370614359172, 1e-17}) {
        x.push_back(ox);
        y.push_back(-oy);
        phi.push_back(turn);
      }
  for (int i = 0; i < 100000; ++i) {
    const double scale = std::ldexp(1.0, int(next(&state) % 21));
    const double cx = uniform(&state, 0.0, scale);
    x.push_back(double(next(&state) % uint64_t(scale + 1)) - cx);
    y.push_back(uniform(&state, -scale, scale));
    phi.push_back(uniform(&state, -12.5664, 12.5664));
  }
  pad(&x), pad(&y), pad(&phi);
  for (const adapter& ad : vector_sets()) {
    std::vector<double> tx(x.size()), ty(x.size());
    ad.set->moving->trig.turn(x.data(), y.data(), phi.data(), x.size(), tx.data(), ty.data());
    double worst = 0.0;
    exact ex, ey, c, s, e, t;
    for (size_t i = 0; i < x.size(); ++i) {
      mpfr_set_d(e.v, phi[i], MPFR_RNDN);
      mpfr_sin_cos(s.v, c.v, e.v, MPFR_RNDN);
      mpfr_set_d(ex.v, x[i], MPFR_RNDN);
      mpfr_set_d(ey.v, y[i], MPFR_RNDN);
      mpfr_mul(e.v, ex.v, c.v, MPFR_RNDN);
      mpfr_mul(t.v, ey.v, s.v, MPFR_RNDN);
      mpfr_sub(e.v, e.v, t.v, MPFR_RNDN);
      const double errx = error_of(tx[i], e);
      mpfr_mul(e.v, ey.v, c.v, MPFR_RNDN);
      mpfr_mul(t.v, ex.v, s.v, MPFR_RNDN);
      mpfr_add(e.v, e.v, t.v, MPFR_RNDN);
      const double erry = error_of(ty[i], e);
      const double length = std::hypot(x[i], y[i]);
      ASSERT_LE(errx, orrelind_turn_error * length) << ad.name << " " << x[i] << " " << y[i];
      ASSERT_LE(erry, orrelind_turn_error * length) << ad.name << " " << x[i] << " " << y[i];
      if (length > 0.0) worst = std::max({worst, errx / length, erry / length});
    }
    std::cout << ad.name << ": largest turn error 2^" << std::log2(worst) << " of the length\n";
  }
}

// The geometry of a setting, as the update works it out.
orrelind_geometry geometry(const orrelind_model::settings& s, unsigned w, unsigned h) {
  const orrelind_model::geometry m = orrelind_model::geometry_of(s, w, h);
  orrelind_geometry g;
  g.width = w;
  g.height = h;
  g.radius = m.radius;
  g.inv_radius = 1.0 / m.radius;
  g.whirl = m.whirl;
  g.pinch = m.pinch;
  g.cx = m.cx;
  g.cy = m.cy;
  g.max_x = double(w - 1);
  g.max_y = double(h - 1);
  orrelind_byte_margins bytes;
  EXPECT_TRUE(orrelind_margins(&g, &bytes));
  return g;
}

double clamp(double p, double top) {
  if (!(p > 0.0)) p = 0.0;
  if (top < p) p = top;
  return p;
}

// The range of source points that C libraries within 8 ulp give for pixel
// (x, y): the scalar path's arithmetic with atan2, sin and cos at the
// extremes each allows, the correctly rounded values among them.
struct library_points {
  double lo_x = INFINITY, hi_x = -INFINITY, lo_y = INFINITY, hi_y = -INFINITY;
};

library_points library_range(const orrelind_geometry& g, uint32_t x, uint32_t y) {
  const double dy = double(y) - g.cy, dy2 = dy * dy, dx = double(x) - g.cx;
  const double r = std::sqrt(dx * dx + dy2) * g.inv_radius;
  const double t = 1.0 - r, t2 = t * t, phi = t2 * g.whirl;
  double d = (t2 * g.pinch + 1.0) * r;
  if (!(d > 0.0)) d = 0.0;
  const double rho = d * g.radius;
  exact ey(dy), ex(dx), angle, theta, value;
  mpfr_atan2(angle.v, ey.v, ex.v, MPFR_RNDN);
  library_points out;
  for (int da : {-1, 0, 1}) {
    const double a = da ? library_extreme(angle, da, orrelind_library_ulps) : angle.nearest();
    mpfr_set_d(theta.v, a + phi, MPFR_RNDN);
    for (int dc : {-1, 0, 1}) {
      mpfr_cos(value.v, theta.v, MPFR_RNDN);
      const double c = dc ? library_extreme(value, dc, orrelind_library_ulps) : value.nearest();
      mpfr_sin(value.v, theta.v, MPFR_RNDN);
      const double s = dc ? library_extreme(value, dc, orrelind_library_ulps) : value.nearest();
      const double px = clamp(c * rho + g.cx, g.max_x), py = clamp(s * rho + g.cy, g.max_y);
      out.lo_x = std::min(out.lo_x, px), out.hi_x = std::max(out.hi_x, px);
      out.lo_y = std::min(out.lo_y, py), out.hi_y = std::max(out.hi_y, py);
    }
  }
  return out;
}

// Checks the vector points of pixels first .. first + n - 1 of row y
// against the library range: within D, and with its floors unless in
// doubt. Returns the number of pixels not in doubt whose floors a library
// could change (0 is right); counts points farther than D and points
// inside the frame in doubt or not against the rule, and keeps the
// largest distance to a library's point.
struct point_check {
  int beyond_d = 0, wrong_check = 0;
  double largest = 0.0;
};

int check_points(const orrelind_points_fn points, const orrelind_geometry& g, uint32_t y,
                 uint32_t first, uint32_t n, point_check* c) {
  const double dy = double(y) - g.cy;
  const double bound = orrelind_point_bound(g);
  std::vector<double> sx(n + orrelind_points_batch), sy(n + orrelind_points_batch);
  int slipped = 0;
  for (uint32_t i = 0; i < n; i += orrelind_points_batch) {
    const uint32_t m = std::min<uint32_t>(n - i, orrelind_points_batch);
    uint64_t doubt[orrelind_points_batch / 64];
    points(g, dy, dy * dy, first + i, m, sx.data(), sy.data(), doubt);
    for (uint32_t j = 0; j < m; ++j) {
      const uint32_t x = first + i + j;
      const double ddx = double(x) - g.cx;
      if (std::sqrt(ddx * ddx + dy * dy) * g.inv_radius < 1e-12) continue;  // the centre
      const library_points lib = library_range(g, x, y);
      const double apart =
          std::max({sx[j] - lib.lo_x, lib.hi_x - sx[j], sy[j] - lib.lo_y, lib.hi_y - sy[j]});
      if (apart > bound) ++c->beyond_d;
      c->largest = std::max(c->largest, apart);
      const bool in_doubt = doubt[j / 64] >> (j % 64) & 1;
      // Inside the frame, where clamping leaves the point alone, the check
      // is exactly "a whole number within the margin".
      if (sx[j] > 0.0 && sx[j] < g.max_x && sy[j] > 0.0 && sy[j] < g.max_y) {
        const bool near = std::fabs(sx[j] - std::nearbyint(sx[j])) <= g.point_margin ||
                          std::fabs(sy[j] - std::nearbyint(sy[j])) <= g.point_margin;
        if (near != in_doubt) ++c->wrong_check;
      }
      const bool same =
          std::floor(lib.lo_x) == std::floor(sx[j]) && std::floor(lib.hi_x) == std::floor(sx[j]) &&
          std::floor(lib.lo_y) == std::floor(sy[j]) && std::floor(lib.hi_y) == std::floor(sy[j]);
      if (!in_doubt && !same) ++slipped;
    }
  }
  return slipped;
}

// The columns of row y strictly inside the circle, as the warp finds them.
bool row_span(const orrelind_geometry& g, uint32_t y, uint32_t* first, uint32_t* last) {
  const double dy = double(y) - g.cy;
  bool any = false;
  for (uint32_t x = 0; x < g.width; ++x) {
    const double dx = double(x) - g.cx;
    if (std::sqrt(dx * dx + dy * dy) * g.inv_radius < 1.0) {
      if (!any) *first = x;
      *last = x;
      any = true;
    }
  }
  return any;
}

TEST(orrelind_points, whole_warps_stay_within_the_bound_of_any_library) {
  using orrelind_model::with;
  const std::pair<unsigned, unsigned> sizes[] = {{64, 48}, {301, 97}, {1920, 1080}, {97, 301}};
  const orrelind_model::settings settings[] = {
      with({{0, 0.75}}), with({{0, 0.0}, {1, 1.0}, {2, 1.0}}),
      with({{0, 1.0}, {1, 0.0}, {2, 2.0}, {3, 0.0}, {4, 1.0}}),
      with({{1, 0.8}, {2, 0.7}, {3, 0.3}, {4, 0.6}}),
      with({{0, 0.9}, {1, 0.2}, {2, 0.5}, {3, 1.0}, {4, 0.0}})};
  for (const adapter& ad : vector_sets()) {
    int slipped = 0, checked = 0;
    point_check c;
    for (auto [w, h] : sizes)
      for (const auto& s : settings) {
        const orrelind_geometry g = geometry(s, w, h);
        // Rows spread over the circle, from rim to rim.
        for (uint32_t y = 0; y < h; y += (h > 300 ? 151 : h > 100 ? 37 : 5)) {
          uint32_t first, last;
          if (!row_span(g, y, &first, &last)) continue;
          slipped += check_points(ad.set->moving->source_points, g, y, first, last - first + 1, &c);
          checked += int(last - first + 1);
        }
      }
    EXPECT_EQ(slipped, 0) << ad.name;
    EXPECT_EQ(c.beyond_d, 0) << ad.name;
    EXPECT_EQ(c.wrong_check, 0) << ad.name;
    EXPECT_GT(checked, 20000) << ad.name;
  }
}

// Pixel (x, y) under settings whose parameter `param` is moved to where
// the scalar path's source point (its x or y, by axis) crosses a whole
// number, then in 601 steps from 3 margins before the crossing to 3
// after: the points lie from on the number to 6 D from it.
std::vector<orrelind_geometry> on_whole_numbers(orrelind_model::settings s, unsigned w, unsigned h,
                                                uint32_t x, uint32_t y, int axis, int param) {
  auto at = [&](double v) {
    orrelind_model::settings t = s;
    t.v[param] = v;
    return geometry(t, w, h);
  };
  auto point = [&](double v) {
    const library_points lib = library_range(at(v), x, y);
    return axis == 0 ? lib.lo_x : lib.lo_y;
  };
  double lo = s.v[param], hi = lo;
  const double start = std::floor(point(lo));
  for (double step = 1e-6; std::floor(point(hi)) == start; step *= 2)
    if ((hi = lo + step) > 1.0) return {};
  while (true) {
    const double mid = lo + (hi - lo) / 2;
    if (mid <= lo || mid >= hi) break;
    (std::floor(point(mid)) == start ? lo : hi) = mid;
  }
  const double slope = (point(hi + 1e-9) - point(lo - 1e-9)) / (hi - lo + 2e-9);
  const double step = 6.0 * at(lo).point_margin / 600.0 / std::fabs(slope);
  std::vector<orrelind_geometry> out;
  for (int i = -300; i <= 300; ++i) out.push_back(at(lo + i * step));
  return out;
}

TEST(orrelind_points, points_near_whole_numbers_are_in_doubt_exactly_within_the_margin) {
  using orrelind_model::with;
  struct placed {
    orrelind_model::settings s;
    unsigned w, h;
    uint32_t x, y;
    int axis, param;
  };
  // Pixels at r about 0.8, whose source points lie inside the frame, moved
  // by Whirl, Pinch or the centre; and one whose source crosses the right
  // edge, where clamping puts it on a whole number.
  const placed cases[] = {
      {with({{0, 0.7}, {1, 0.6}, {2, 0.5}, {3, 0.3}}), 640, 360, 188, 32, 0, 0},
      {with({{0, 0.2}, {2, 0.9}, {3, 0.45}, {4, 0.55}}), 640, 360, 110, 0, 1, 4},
      {with({{0, 0.6}, {1, 0.3}, {2, 1.0}, {3, 0.45}}), 1920, 1080, 1512, 0, 0, 1},
      {with({{0, 0.9}, {2, 0.8}, {3, 0.95}, {4, 0.3}}), 200, 150, 92, 38, 0, 3},
      {with({{1, 0.9}, {2, 0.6}, {3, 0.52}, {4, 0.1}}), 300, 200, 60, 4, 1, 0},
      {with({{0, 0.8}, {2, 0.6}, {3, 0.9}}), 400, 300, 357, 5, 0, 0}};
  for (const adapter& ad : vector_sets()) {
    int placed_points = 0, slipped = 0, near = 0, slipped_tight = 0;
    point_check c;
    std::vector<orrelind_geometry> all;
    for (const placed& p : cases)
      for (const orrelind_geometry& g :
           on_whole_numbers(p.s, p.w, p.h, p.x, p.y, p.axis, p.param)) {
        point_check one;
        slipped += check_points(ad.set->moving->source_points, g, p.y, p.x, 1, &one);
        c.beyond_d += one.beyond_d;
        c.wrong_check += one.wrong_check;
        // Relative to D, for the check with a margin that is too small.
        c.largest = std::max(c.largest, one.largest / orrelind_point_bound(g));
        const library_points lib = library_range(g, p.x, p.y);
        const double at = p.axis == 0 ? lib.lo_x : lib.lo_y;
        const double off = std::fabs(at - std::nearbyint(at));
        if (off > 0.9 * g.point_margin && off < 1.1 * g.point_margin) ++near;
        ++placed_points;
      }
    EXPECT_EQ(placed_points, 6 * 601) << ad.name;
    EXPECT_EQ(slipped, 0) << ad.name;
    EXPECT_EQ(c.beyond_d, 0) << ad.name;
    // Some points lie within a tenth of the margin of its edge, where a
    // check one notch off would be caught.
    EXPECT_EQ(c.wrong_check, 0) << ad.name;
    EXPECT_GT(near, 20) << ad.name;
    // And the points come so near whole numbers that a margin of half the
    // largest distance seen from a library's point lets that library's
    // other floor through: the comparison with the library has teeth.
    for (const placed& p : cases)
      for (orrelind_geometry g : on_whole_numbers(p.s, p.w, p.h, p.x, p.y, p.axis, p.param)) {
        point_check ignored;
        g.point_margin = 0.5 * c.largest * orrelind_point_bound(g);
        slipped_tight += check_points(ad.set->moving->source_points, g, p.y, p.x, 1, &ignored);
      }
    EXPECT_GT(slipped_tight, 0) << ad.name;
    std::cout << ad.name << ": a library's point lies at most " << c.largest
              << " D from the vector's\n";
  }
}

// The four values whose bytes make the pixel at (sx, sy), before
// rounding: colours 0..2 and alpha, as the double formulas give them (the
// plain model's arithmetic, stopped short of the bytes); and whether the
// colours are interpolated plainly (the four alphas agree).
struct pixel_values {
  double v[4];
  bool plain;
};

pixel_values values_at(const testhost::frame& src, unsigned w, unsigned h, double sx, double sy) {
  using testhost::byte_of;
  const unsigned x0 = unsigned(sx), y0 = unsigned(sy);
  const unsigned x1 = x0 + 1 < w ? x0 + 1 : w - 1, y1 = y0 + 1 < h ? y0 + 1 : h - 1;
  const double fx = sx - x0, fy = sy - y0;
  const uint32_t p00 = src[y0 * w + x0], p10 = src[y0 * w + x1];
  const uint32_t p01 = src[y1 * w + x0], p11 = src[y1 * w + x1];
  const double a00 = byte_of(p00, 3), a10 = byte_of(p10, 3);
  const double a01 = byte_of(p01, 3), a11 = byte_of(p11, 3);
  const double top = (a10 - a00) * fx + a00, bottom = (a11 - a01) * fx + a01;
  pixel_values out;
  out.v[3] = (bottom - top) * fy + top;
  const bool one = a00 == a10 && a00 == a01 && a00 == a11;
  const double w00 = one ? 1 : a00, w10 = one ? 1 : a10, w01 = one ? 1 : a01, w11 = one ? 1 : a11;
  const bool clear = orrelind_model::to_byte(out.v[3]) == 0;
  const double k = 1.0 / (one || clear ? 1.0 : out.v[3]);
  for (int b = 0; b < 3; ++b) {
    const double q00 = byte_of(p00, b) * w00, q10 = byte_of(p10, b) * w10;
    const double q01 = byte_of(p01, b) * w01, q11 = byte_of(p11, b) * w11;
    const double ctop = (q10 - q00) * fx + q00;
    const double v = (q01 - ctop) + (q11 - q01) * fx;
    out.v[b] = (v * fy + ctop) * k;
  }
  if (one) out.v[3] = a00;
  out.plain = one;
  return out;
}

// The checked resampling's rule for one value.
bool within(double v, double margin) {
  const double u = std::min(std::max(v, 0.0), 255.0) + 0.5;
  return std::floor(u - margin) < std::floor(u + margin);
}

// Value b of a pixel is interpolated plainly (alpha always).
bool plain(const pixel_values& v, int b) { return b == 3 || v.plain; }

TEST(orrelind_points, checked_resampling_marks_exactly_the_values_within_its_margin) {
  // Source points placed so that one value lands on a rounding boundary,
  // or at 0.99, 1.01 or 2 times its margin (plain or weighted) from it
  // either way, in opaque, mixed-alpha and transparent neighbourhoods. The
  // resampling must mark exactly the pixels with a value within its
  // margin; and moving the point by D either way must change no byte of an
  // unmarked pixel, nor any value by more than its bound.
  const unsigned w = 41, h = 29;
  testhost::frame src = testhost::random_frame(size_t(w) * h, 23);
  uint64_t state = 0xD1B54A32D192ED03ull;
  for (unsigned y = 0; y < h; ++y)
    for (unsigned x = 0; x < w; ++x) {
      uint32_t& p = src[y * w + x];
      const unsigned alpha = x < 14 ? 255 : x < 28 ? unsigned(next(&state) % 256) : 0;
      p = testhost::pixel(testhost::byte_of(p, 0), testhost::byte_of(p, 1), testhost::byte_of(p, 2),
                          uint8_t(alpha));
    }
  const double d = 0x1p-36;  // D of a 4K frame's warp, about
  const double plain_bound = orrelind_plain_value_bound(d);
  const double weighted_bound = orrelind_weighted_value_bound(d);
  const orrelind_byte_margins margins = {2.0 * plain_bound, 2.0 * weighted_bound};
  const double distances[] = {0.0, 0.99, -0.99, 1.01, -1.01, 2.0, -2.0};

  std::vector<double> sx, sy;
  while (sx.size() < 40000) {
    const unsigned x0 = unsigned(next(&state) % (w - 1)), y0 = unsigned(next(&state) % (h - 1));
    const double fy = double(next(&state) >> 11) * 0x1p-53;
    const int b = int(next(&state) % 4);
    const double margin =
        plain(values_at(src, w, h, x0, y0 + fy), b) ? margins.plain : margins.weighted;
    const double target = double(next(&state) % 255) + 0.5 +
                          margin * distances[next(&state) % (sizeof distances / sizeof *distances)];
    // Every value is (m0 + m1 fx) / (a0 + a1 fx) for this fy (the divisor 1
    // where the alpha is one), monotonic in fx: halve the interval of
    // points down to neighbouring doubles.
    auto f = [&](double px) { return values_at(src, w, h, px, y0 + fy).v[b] - target; };
    double lo = x0, hi = std::nextafter(x0 + 1.0, 0.0);
    const double flo = f(lo);
    if (!(flo * f(hi) < 0.0)) continue;
    while (true) {
      const double mid = lo + (hi - lo) / 2;
      if (mid <= lo || mid >= hi) break;
      ((f(mid) < 0.0) == (flo < 0.0) ? lo : hi) = mid;
    }
    const double fx = hi - x0;
    sx.push_back(x0 + fx);
    sy.push_back(y0 + fy);
  }
  // Ordinary points among them, so that marked lanes share vectors with
  // lanes the single-precision estimate is sure of.
  for (size_t i = 0; i < sx.size(); i += 5) {
    sx[i] = double(next(&state) % ((w - 1) * 1024)) / 1024.0;
    sy[i] = double(next(&state) % ((h - 1) * 1024)) / 1024.0;
  }

  std::vector<bool> expected(sx.size());
  size_t marked = 0, moved = 0;
  double plain_move = 0.0, weighted_move = 0.0;
  for (size_t i = 0; i < sx.size(); ++i) {
    const pixel_values v = values_at(src, w, h, sx[i], sy[i]);
    for (int b = 0; b < 4; ++b)
      expected[i] = expected[i] || within(v.v[b], plain(v, b) ? margins.plain : margins.weighted);
    marked += expected[i];
    // Fractions moved by D, within the cell: no value of an unmarked pixel
    // (whose alpha byte is sure, which the bound needs) moves by more than
    // the bound, nor do its bytes change.
    const double x0 = std::floor(sx[i]), y0 = std::floor(sy[i]);
    const uint32_t here = orrelind_model::resample(src, w, h, sx[i], sy[i]);
    for (double ox : {-d, d})
      for (double oy : {-d, d}) {
        const double px = std::min(std::max(sx[i] + ox, x0), std::nextafter(x0 + 1.0, 0.0));
        const double py = std::min(std::max(sy[i] + oy, y0), std::nextafter(y0 + 1.0, 0.0));
        if (expected[i]) continue;
        const pixel_values m = values_at(src, w, h, px, py);
        for (int b = 0; b < 4; ++b) {
          double& largest = plain(v, b) ? plain_move : weighted_move;
          largest = std::max(largest, std::fabs(m.v[b] - v.v[b]));
        }
        if (orrelind_model::resample(src, w, h, px, py) != here) ++moved;
      }
  }
  EXPECT_LE(plain_move, plain_bound);
  EXPECT_LE(weighted_move, weighted_bound);
  std::cout << "largest move of a value: plain " << plain_move / plain_bound << ", weighted "
            << weighted_move / weighted_bound << " of its bound\n";
  EXPECT_EQ(moved, 0u);
  EXPECT_GT(marked, sx.size() / 4);
  EXPECT_LT(marked, sx.size() * 3 / 4);

  const orrelind_source_frame frame{src.data(), w, h};
  for (const adapter& ad : vector_sets()) {
    std::vector<uint32_t> out(sx.size());
    size_t wrong = 0, wrong_bytes = 0;
    // Runs of every length up to 128, so every step and tail is taken.
    for (size_t i = 0, n = 1; i < sx.size(); i += n, n = n % 128 + 1) {
      const size_t m = std::min(n, sx.size() - i);
      uint64_t bits[2] = {0, 0};
      ad.set->moving->resample_checked(frame, sx.data() + i, sy.data() + i, m, out.data() + i,
                                       margins, bits);
      for (size_t j = 0; j < m; ++j) {
        const bool in_doubt = bits[j / 64] >> (j % 64) & 1;
        if (in_doubt != expected[i + j]) ++wrong;
        if (out[i + j] != orrelind_model::resample(src, w, h, sx[i + j], sy[i + j])) ++wrong_bytes;
      }
    }
    EXPECT_EQ(wrong, 0u) << ad.name;
    EXPECT_EQ(wrong_bytes, 0u) << ad.name;
  }
}

// Full frames as the plug-in warps them when a value moves: source points,
// the checked resampling, and the pixels in doubt that it does again by
// the C library. They must be rare, or the vector path is for nothing.
TEST(orrelind_points, few_pixels_fall_back_to_the_scalar_path) {
  using orrelind_model::with;
  const unsigned w = 1920, h = 1080;
  testhost::frame opaque = testhost::random_frame(size_t(w) * h, 5);
  testhost::frame mixed = opaque;
  for (uint32_t& p : opaque) p |= testhost::pixel(0, 0, 0, 255);
  struct named {
    const char* name;
    orrelind_model::settings s;
  };
  const named cases[] = {{"whirl, radius 0.5", with({{0, 0.75}})},
                         {"whirl, radius 1.0", with({{0, 0.75}, {2, 1.0}})},
                         {"whirl and pinch", with({{0, 0.75}, {1, 0.6}})},
                         {"pinch alone", with({{1, 0.75}})},
                         {"whirl about a corner", with({{0, 0.9}, {2, 0.8}, {3, 1.0}, {4, 0.0}})}};
  const orrelind_kernel_set* set = orrelind_kernel_sets[effects::cpu_level()];
  if (!set->moving) GTEST_SKIP() << "no vector source points on this processor";
  for (const named& c : cases)
    for (const testhost::frame* f : {&opaque, &mixed}) {
      orrelind_geometry g = geometry(c.s, w, h);
      orrelind_byte_margins margins;
      ASSERT_TRUE(orrelind_margins(&g, &margins));
      const orrelind_source_frame frame{f->data(), w, h};
      std::vector<uint32_t> out(f->size());
      alignas(64) double sx[orrelind_points_batch + orrelind_points_lanes];
      alignas(64) double sy[orrelind_points_batch + orrelind_points_lanes];
      size_t pixels = 0, points = 0, bytes = 0;
      for (uint32_t y = 0; y < h; ++y) {
        uint32_t first, last;
        if (!row_span(g, y, &first, &last)) continue;
        const double dy = double(y) - g.cy;
        for (uint32_t x = first; x <= last; x += orrelind_points_batch) {
          const uint32_t n = std::min<uint32_t>(last - x + 1, orrelind_points_batch);
          uint64_t doubt[2] = {0, 0};
          set->moving->source_points(g, dy, dy * dy, x, n, sx, sy, doubt);
          const size_t before = __builtin_popcountll(doubt[0]) + __builtin_popcountll(doubt[1]);
          set->moving->resample_checked(frame, sx, sy, n, out.data() + y * w + x, margins, doubt);
          const size_t after = __builtin_popcountll(doubt[0]) + __builtin_popcountll(doubt[1]);
          points += before;
          bytes += after - before;
          pixels += n;
        }
      }
      const double fraction = double(points + bytes) / double(pixels);
      std::cout << c.name << (f == &opaque ? ", opaque: " : ", random alpha: ") << points
                << " points and " << bytes << " bytes in doubt of " << pixels << " pixels ("
                << fraction * 100 << " %)\n";
      EXPECT_LT(fraction, 1e-3) << c.name;
    }
}

}  // namespace
