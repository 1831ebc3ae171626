// Source points in vector arithmetic, for updates whose values moved since
// the last one, written once for any number of lanes over the adapter V
// (included like orrelind_resample_body.h, after it and
// orrelind_trig_body.h), over the operations common/operations.md lists;
// min_d and max_d are only ever given numbers here.
//
// Each lane repeats the scalar path's arithmetic (orrelind_warp.cpp) up to
// the turn phi = t2 W and the pinch factor k = t2 P + 1, bit for bit; then,
// where the scalar path takes cos and sin of atan2(dy, dx) + phi from the C
// library and multiplies them by rho = k r R, it turns (dx, dy) itself by
// phi (orrelind_turn) and multiplies by k. The points so lie within the
// bound D of orrelind_points.h of what any admissible library gives. A
// lane is in doubt where D could change x0 or y0, or on the centre (which
// keeps its pixel); everything else is decided by the bytes, in the
// checked resampling.

// The lanes where p, not yet clamped, lies within margin of a whole
// number. A library's point, within D of p, can only have another floor
// once both are clamped into 0 .. top (top a whole number) if some whole
// number lies within D of p: clamping moves no two points apart, and an
// edge it moves one onto is a whole number. Points beyond the edges are in
// doubt near whole numbers too, needlessly but as seldom as the others.
template <class V>
__attribute__((always_inline)) inline typename V::md orrelind_near_whole(typename V::vd p,
                                                                         typename V::vd margin) {
  // Adding and taking away 1.5 x 2^52 rounds to the nearest whole number,
  // and p minus it is exact.
  const typename V::vd whole = V::splat_d(0x1.8p52);
  const typename V::vd nearest = V::sub_d(V::add_d(p, whole), whole);
  return V::at_least_d(margin, V::abs_d(V::sub_d(p, nearest)));
}

// p clamped into 0 .. top, as the scalar path's "if not above 0, 0; if
// above top, top" does it for numbers: max_d and min_d give their second
// operand where the two compare equal, so -0 becomes +0 as there.
template <class V>
__attribute__((always_inline)) inline typename V::vd orrelind_clamp(typename V::vd p,
                                                                    typename V::vd top) {
  return V::min_d(V::max_d(p, V::splat_d(0.0)), top);
}

// In three passes over the batch, so that no lane waits long for the one
// before: the distance and the fall-off, then the sine and cosine of the
// turn, then the point. Each pass is a short chain of dependent
// operations, and the processor runs several iterations of it at once.
template <class V>
void orrelind_points_run(const orrelind_geometry& g, double dy, double dy2, uint32_t x, size_t n,
                         double* sx, double* sy, uint64_t* doubt) {
  static_assert(V::lanes <= orrelind_points_lanes && orrelind_points_batch % V::lanes == 0,
                "a batch is whole vectors, and the buffers have room for one more");
  using vd = typename V::vd;
  const vd one = V::splat_d(1.0);
  const vd cx = V::splat_d(g.cx);
  const vd step = V::splat_d(double(V::lanes));
  const vd first = V::add_d(V::splat_d(double(x)), V::ramp_d());
  // Between the passes: the turn of each pixel, then its sine (and its
  // cosine in sx); the pinch factor.
  alignas(64) double turn[orrelind_points_batch + orrelind_points_lanes];
  alignas(64) double factor[orrelind_points_batch + orrelind_points_lanes];
  for (size_t w = 0; w * 64 < n; ++w) doubt[w] = 0;

  {
    const vd inv_radius = V::splat_d(g.inv_radius);
    const vd whirl = V::splat_d(g.whirl), pinch = V::splat_d(g.pinch);
    const vd vdy2 = V::splat_d(dy2);
    const vd centre = V::splat_d(orrelind_neutral_epsilon);
    vd column = first;
    for (size_t i = 0; i < n; i += V::lanes, column = V::add_d(column, step)) {
      const vd dx = V::sub_d(column, cx);
      const vd r = V::mul_d(V::sqrt_d(V::add_d(V::mul_d(dx, dx), vdy2)), inv_radius);
      const vd t = V::sub_d(one, r);
      const vd t2 = V::mul_d(t, t);
      V::store_d(turn + i, V::mul_d(t2, whirl));
      V::store_d(factor + i, V::add_d(V::mul_d(t2, pinch), one));
      const uint64_t bits = V::bits_d(V::less_d(r, centre));
      if (bits) doubt[i / 64] |= bits << (i % 64);
    }
  }

  for (size_t i = 0; i < n; i += V::lanes) {
    vd sin_t, cos_t;
    orrelind_sincos<V>(V::load_d(turn + i), &sin_t, &cos_t);
    V::store_d(turn + i, sin_t);
    V::store_d(sx + i, cos_t);
  }

  const vd cy = V::splat_d(g.cy), vdy = V::splat_d(dy);
  const vd max_x = V::splat_d(g.max_x), max_y = V::splat_d(g.max_y);
  const vd margin = V::splat_d(g.point_margin);
  vd column = first;
  for (size_t i = 0; i < n; i += V::lanes, column = V::add_d(column, step)) {
    vd tx, ty;
    orrelind_turn_by<V>(V::sub_d(column, cx), vdy, V::load_d(sx + i), V::load_d(turn + i), &tx,
                        &ty);
    const vd k = V::load_d(factor + i);
    const vd px = V::mul_add_any_d(k, tx, cx);
    const vd py = V::mul_add_any_d(k, ty, cy);
    V::store_d(sx + i, orrelind_clamp<V>(px, max_x));
    V::store_d(sy + i, orrelind_clamp<V>(py, max_y));
    const uint64_t bits =
        V::bits_d(V::or_m(orrelind_near_whole<V>(px, margin), orrelind_near_whole<V>(py, margin)));
    if (bits) doubt[i / 64] |= bits << (i % 64);
  }
}

// Everything an adapter has for values that move.
template <class V>
constexpr orrelind_moving_kernels orrelind_moving_of = {
    orrelind_points_run<V>,
    orrelind_resample_run_checked<V>,
    {orrelind_sincos_run<V>, orrelind_turn_run<V>}};
