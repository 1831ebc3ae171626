// The geometry of one update, and how far a source point worked out in
// vector arithmetic may lie from the one the C library's atan2, sin and cos
// give: the bound that decides which vector source points are kept.
//
// The shortcut's contract. Every output byte is the scalar path's
// (orrelind_warp.cpp, the judge: the C library's source points, resampled
// in doubles). The vector path may only be faster.
//
// What decides bytes, and must stay true whatever else changes:
// - the bounds: orrelind_library_ulps, orrelind_sincos_error and
//   orrelind_turn_error are bounds on real errors (the tests hold the vector
//   functions to theirs against MPFR), and orrelind_point_bound is the sum
//   carried through below;
// - the two checks built on them: a point is in doubt where a whole number
//   lies within twice the bound of it (orrelind_points_body.h), and a byte
//   where its value lies within twice its value bound of a rounding
//   boundary (orrelind_resample_body.h); every pixel in doubt is done again
//   by the scalar path;
// - orrelind_neutral_epsilon: below it a whirl or pinch counts as none, and
//   a pixel this close to the centre as on it (it keeps its own pixel);
//   both paths compute that distance bit for bit alike and compare it with
//   this one constant;
// - orrelind_point_bound_limit: two proofs rest on it (the estimate's slack
//   and the alpha above 0.49), each a static_assert below;
// - orrelind_estimate_margin: the single-precision estimate keeps a byte
//   only where its value lies this far from a rounding boundary, more than
//   the estimate's own error (static_assert below).
//
// What only decides speed (a wrong choice costs time, never a byte):
// - whether an update takes the vector points at all (orrelind_margins
//   says no where the bound is above the limit: larger frames fall back);
// - orrelind_points_batch and orrelind_points_lanes (orrelind_dispatch.h),
//   within the invariants asserted there;
// - the estimate itself (it writes only what it is sure of), the prefetch
//   distance, and how the passes over a batch are laid out.
//
// The scalar path (orrelind_warp.cpp, the judge) computes for a pixel at
// offset (dx, dy) from the centre, at distance dist and r = dist / R,
//   phi = t2 W, k = t2 P + 1, rho = k r R,
//   theta = atan2(dy, dx) + phi, sx = cos(theta) rho + cx,
//   sy = sin(theta) rho + cy, each clamped into the frame.
// The vector path (orrelind_points_body.h) computes phi and k bit for bit
// as it does, and then sx = k tx + cx, sy = k ty + cy, with (tx, ty) the
// offset (dx, dy) turned by phi (orrelind_turn, within E_turn = 2^-48 of
// the length l = |(dx, dy)|).
//
// What a C library may return. glibc's manual (2.36, "Known Maximum Errors
// in Math Functions") aims at results "within a few ulp" and lists, for
// double: on x86_64 no known error for atan2 and 1 ulp for sin, cos and
// sincos, the same on AArch64; the largest figure it gives for any of the
// three on any processor is 7 ulp (atan2 and sin on ARC). These are the
// errors its tests have found, not promises. We allow every C library
// orrelind_library_ulps = 8 ulp for each. For other C libraries the bound
// assumes the same 8 ulp; Windows' C runtime documents no accuracy for
// these functions that we know of, so there that assumption is all it
// rests on. A library further off would need a larger figure here.
// |atan2| <= pi < 4, so an ulp of it is at most 2^-51; |sin|, |cos| <= 1,
// so at most 2^-52.
//
// Carried through, with u = 2^-53 (a double's unit roundoff) and L = 8:
// - The library's cosine: its atan2 within L 2^-51 of the true angle, the
//   sum with phi (|theta| < 5 pi < 16) rounded within 2^-50, its cos within
//   L 2^-52: c_c is within E_lib = L 2^-51 + 2^-50 + L 2^-52 of
//   cos(a + phi), a the true angle. And so the sine.
// - rho = k l (1 + e), |e| <= 6 u: dist within 2 u of l (two squares, a
//   sum and a square root), r within 2 u of dist / R (1 / R and the
//   product), then two products.
// - So |k tx - c_c rho| <= k l (E_turn + E_lib + 6 u), and k l is below
//   R up to 6 u: (1 + P (1 - r)^2) r grows with r for |P| <= 1, so stays
//   below 1 for r < 1. The products round within u R each.
// - + cx: the sums are below S = R + max(cx, cy), each rounded within
//   u S. Clamping into the frame brings no two values farther apart.
// So sx and sy are within
//   D = R (E_turn + E_lib + 8 u) + 2 u S
// of the C library's (rounded up a little for what the terms above leave
// out, a few u of them). The check (orrelind_points_body.h) keeps a point
// only where no whole number lies within 2 D of sx (and of sy): then
// every admissible library gives the same x0 and y0, and fractions fx, fy
// within D of the vector's (sx - x0 is exact).
#pragma once

#include <cstdint>

// Working quantities of one update.
struct orrelind_geometry {
  uint32_t width;
  uint32_t height;
  double radius;      // R, in pixels
  double inv_radius;  // 1 / R
  double whirl;       // W, radians
  double pinch;       // P
  double cx;
  double cy;
  double max_x;  // width - 1
  double max_y;  // height - 1
  // Twice orrelind_point_bound: the margin of the vector source points'
  // check. Set only where vector source points are used.
  double point_margin;
};

// Below this a whirl angle or a pinch amount counts as none, and a pixel
// this close to the centre (in units of the radius) as on it.
constexpr double orrelind_neutral_epsilon = 1e-12;

constexpr double orrelind_library_ulps = 8.0;
// The vector functions' bounds (orrelind_trig_body.h): sine and cosine,
// and the turn relative to the length of what it turns.
constexpr double orrelind_sincos_error = 0x1p-49;
constexpr double orrelind_turn_error = 0x1p-48;

// D above, for a radius R and centre coordinates up to c_max, rounded up.
constexpr double orrelind_point_bound(double radius, double c_max) {
  constexpr double u = 0x1p-53;
  constexpr double library =
      orrelind_library_ulps * 0x1p-51 + 0x1p-50 + orrelind_library_ulps * 0x1p-52;
  return (radius * (orrelind_turn_error + library + 8.0 * u) + 2.0 * u * (radius + c_max)) *
         (1.0 + 0x1p-20);
}

// D for the geometry's R, cx and cy.
inline double orrelind_point_bound(const orrelind_geometry& g) {
  return orrelind_point_bound(g.radius, g.cx > g.cy ? g.cx : g.cy);
}

// Vector source points are used only where D is at most this: then the
// resampling's single-precision estimate proves their bytes as well
// (orrelind_resample_body.h), and a pixel whose alpha byte is sure not to
// be 0 has an interpolated alpha above 0.49 in both paths. Every frame
// whose sides are below 2^20 pixels is far inside it.
constexpr double orrelind_point_bound_limit = 0x1p-24;
static_assert(orrelind_point_bound(0x1p20, 0x1p20) <= orrelind_point_bound_limit,
              "frames with sides below 2^20 pixels must take the vector points");

// The single-precision estimate (orrelind_resample_body.h) keeps a byte
// only where its value t, off by at most orrelind_estimate_error (3577 u of
// float arithmetic, and 128 u for rounding t +- the margin near 256), lies
// more than orrelind_estimate_margin from a whole number.
constexpr float orrelind_estimate_margin = 0x1p-11f;
constexpr double orrelind_estimate_error = (3577.0 + 128.0) * 0x1p-24;
static_assert(orrelind_estimate_error < orrelind_estimate_margin,
              "the estimate's margin must cover its own error");
// A sure byte stays sure for any source point within the limit: fractions
// that far off move an interpolation of bytes by at most 510 times it.
static_assert(510.0 * orrelind_point_bound_limit <
                  orrelind_estimate_margin - orrelind_estimate_error,
              "the estimate's slack must cover the vector points' bound");
// An alpha byte that is not 0 comes from a value of at least 0.5: within
// 510 D (1 + D) of it the other path's alpha stays above 0.49, which the
// weighted value bound below divides by.
static_assert(510.0 * orrelind_point_bound_limit * (1.0 + orrelind_point_bound_limit) < 0.01,
              "an alpha byte that is not 0 must mean an alpha above 0.49 in both paths");
static_assert(260100.0 / 0.49 < 0x1p20, "the weighted value bound's factor");

// How far apart a colour or alpha value (before its byte is rounded) can
// lie when worked out from the vector source point and from the C
// library's, given the same four neighbours and fractions within D. The
// exact bilinear value of bytes 0..Q moves by at most 2 Q D (1 + D):
// - interpolated plainly (alpha, and colour where the four alphas agree,
//   Q = 255): by 510 D (1 + D), and the double formulas of each path err
//   by less than 2^-41 (a dozen roundings of values below 510): within
//   orrelind_plain_value_bound;
// - the weighted colour is the ratio of an interpolation of Q = 65025 to
//   the alpha interpolation A > 0.49, at most 255 A: it moves by at most
//   (|dM| + 255 |dA|) / A <= 260100 D (1 + D) / 0.49 < 2^20 D, and each
//   path's double formulas err by at most 2^-31.9 (its sum within
//   715275 u, over A, and the 1 / A within 3125 u of 255): within
//   orrelind_weighted_value_bound.
// The checked resampling keeps a byte where its value is twice its bound
// away from the nearest rounding boundary.
inline double orrelind_plain_value_bound(double point_bound) {
  return 0x1p-39 + 0x1p9 * point_bound;
}
inline double orrelind_weighted_value_bound(double point_bound) {
  return 0x1p-30 + 0x1p20 * point_bound;
}

// The checked resampling's margins, twice those bounds.
struct orrelind_byte_margins {
  double plain;
  double weighted;
};

// The margins of both checks, twice their bounds, for the geometry:
// g->point_margin, and *bytes for the checked resampling. False, leaving
// both alone, where D is above orrelind_point_bound_limit and the vector
// source points may not be used.
inline bool orrelind_margins(orrelind_geometry* g, orrelind_byte_margins* bytes) {
  const double bound = orrelind_point_bound(*g);
  if (!(bound <= orrelind_point_bound_limit)) return false;
  g->point_margin = 2.0 * bound;
  bytes->plain = 2.0 * orrelind_plain_value_bound(bound);
  bytes->weighted = 2.0 * orrelind_weighted_value_bound(bound);
  return true;
}
