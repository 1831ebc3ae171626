// The resampling written once for any number of lanes, one output pixel per
// lane. Each adapter source defines a type V and includes this file inside
// its target region and an unnamed namespace, so every instantiation stays
// private to that source. It includes nothing itself: whatever it pulled in
// would be compiled for that target too.
//
// An adapter's fetch (and whatever it calls) is declared always_inline:
// called out of line, its four results would pass through memory.
//
// V provides the shared operations and Orrelind's own, with the meanings
// common/operations.md gives them; with `single` true also those for twice
// as many lanes in single precision (see orrelind_estimate).

// The four neighbours of one source point (fsx, fsy: its floors, exact
// integers within the frame), indexed in 64 bits. The right neighbour
// repeats the last column, the lower one the last row.
inline void orrelind_fetch_one(const orrelind_source_frame& s, double fsx, double fsy,
                               uint32_t* p00, uint32_t* p10, uint32_t* p01, uint32_t* p11) {
  const uint32_t x0 = static_cast<uint32_t>(fsx);
  const uint32_t y0 = static_cast<uint32_t>(fsy);
  const uint32_t* top = s.pixels + (static_cast<uint64_t>(y0) * s.width + x0);
  const size_t right = x0 + 1 < s.width ? 1 : 0;
  const size_t down = y0 + 1 < s.height ? s.width : 0;
  *p00 = top[0];
  *p10 = top[right];
  *p01 = top[down];
  *p11 = top[down + right];
}

// One lane, plain C++, on any processor and in either byte order: byte k of
// a pixel is its k-th byte in memory.
struct portable : scalar_lanes {
  using vm = bool;
  static constexpr size_t lanes = 1;
  static constexpr bool single = false;

  static constexpr unsigned shift(int k) { return effects::byte_shift(k); }

  // The source points' floors lie in 0 .. 2^32: a conversion takes them.
  static vd floor_d(vd a) { return static_cast<double>(static_cast<uint64_t>(a)); }
  static uint64_t bits_d(md m) { return m; }
  static void fetch(const orrelind_source_frame& s, vd fsx, vd fsy, vi* p00, vi* p10, vi* p01,
                    vi* p11) {
    orrelind_fetch_one(s, fsx, fsy, p00, p10, p01, p11);
  }
  template <int k>
  static vd byte_d(vi p) {
    return static_cast<double>((p >> shift(k)) & 0xFFu);
  }
  static vi alpha(vi p) { return (p >> shift(3)) & 0xFFu; }
  static vm same_alpha(vi p00, vi p10, vi p01, vi p11) {
    const vi a = alpha(p00);
    return a == alpha(p10) && a == alpha(p01) && a == alpha(p11);
  }
  static vm is_zero(vi a) { return a == 0; }
  static vm or_m(vm a, vm b) { return a || b; }
  static bool all(vm m) { return m; }
  static vi to_byte(vd v) {
    if (!(v > 0.0)) v = 0.0;
    if (!(v < 255.0)) v = 255.0;
    return static_cast<vi>(v + 0.5);
  }
  static vi pack(vi b0, vi b1, vi b2, vi b3, vm zero) {
    if (zero) return 0;
    return (b0 << shift(0)) | (b1 << shift(1)) | (b2 << shift(2)) | (b3 << shift(3));
  }
};

// One colour byte position of the interpolation, from the neighbours'
// (weighted) values q: top = (q10 - q00) fx + q00,
// v = (q01 - top) + (q11 - q01) fx, m = v fy + top. Colour combines its
// rows differently from alpha below, and each is evaluated as written.
template <class V>
inline typename V::vd orrelind_colour(typename V::vd q00, typename V::vd q10, typename V::vd q01,
                                      typename V::vd q11, typename V::vd fx, typename V::vd fy) {
  const typename V::vd top = V::add_d(V::mul_d(V::sub_d(q10, q00), fx), q00);
  const typename V::vd v = V::add_d(V::sub_d(q01, top), V::mul_d(V::sub_d(q11, q01), fx));
  return V::add_d(V::mul_d(v, fy), top);
}

template <class V, int k>
inline typename V::vd orrelind_weighted(typename V::vi p, typename V::vd w) {
  return V::mul_d(V::template byte_d<k>(p), w);
}

// The four neighbours of V::lanes source points and the point's place
// between them.
template <class V>
struct orrelind_neighbours {
  typename V::vi p00, p10, p01, p11;
  typename V::vd fx, fy;
  typename V::vm one_alpha;  // where all four share one alpha
};

template <class V>
__attribute__((always_inline)) inline orrelind_neighbours<V> orrelind_neighbours_at(
    const orrelind_source_frame& s, const double* sx, const double* sy) {
  orrelind_neighbours<V> n;
  const typename V::vd x = V::load_d(sx), y = V::load_d(sy);
  const typename V::vd fsx = V::floor_d(x), fsy = V::floor_d(y);
  n.fx = V::sub_d(x, fsx);
  n.fy = V::sub_d(y, fsy);
  V::fetch(s, fsx, fsy, &n.p00, &n.p10, &n.p01, &n.p11);
  n.one_alpha = V::same_alpha(n.p00, n.p10, n.p01, n.p11);
  return n;
}

// The lanes where the byte of value v (clamp, add 0.5, truncate) would
// turn if v moved by margin: what the checked resampling calls in doubt.
template <class V>
__attribute__((always_inline)) inline typename V::md orrelind_byte_in_doubt(typename V::vd v,
                                                                            typename V::vd margin) {
  const typename V::vd u =
      V::add_d(V::min_d(V::max_d(v, V::splat_d(0.0)), V::splat_d(255.0)), V::splat_d(0.5));
  return V::less_d(V::floor_d(V::sub_d(u, margin)), V::floor_d(V::add_d(u, margin)));
}

// What the checked resampling asks of a blend: the margins for values
// interpolated plainly and weighted, and where the lanes in doubt go.
template <class V>
struct orrelind_check {
  typename V::vd plain;
  typename V::vd weighted;
  typename V::md* doubt;
};

// Output pixels of V::lanes source points, exactly as the formulas say.
// Checked (for the checked resampling), it also sets *check->doubt to the
// lanes whose colour or alpha value lies within its margin of a rounding
// boundary; unchecked, it never reads check, and none of that is compiled.
template <class V, bool checked>
__attribute__((always_inline)) inline typename V::vi orrelind_blend(
    const orrelind_neighbours<V>& n, const orrelind_check<V>* check) {
  using vd = typename V::vd;
  using vi = typename V::vi;
  using vm = typename V::vm;
  const vi p00 = n.p00, p10 = n.p10, p01 = n.p01, p11 = n.p11;
  const vd fx = n.fx, fy = n.fy;
  const vm one_alpha = n.one_alpha;

  if (V::all(one_alpha)) {
    // Opaque video, mostly. With one alpha around every point the
    // interpolated alpha is that alpha exactly, and every weight and k are 1,
    // so multiplying by them would change no bit: left out.
    const vi alpha = V::alpha(p00);
    const vd c0 =
        orrelind_colour<V>(V::template byte_d<0>(p00), V::template byte_d<0>(p10),
                           V::template byte_d<0>(p01), V::template byte_d<0>(p11), fx, fy);
    const vd c1 =
        orrelind_colour<V>(V::template byte_d<1>(p00), V::template byte_d<1>(p10),
                           V::template byte_d<1>(p01), V::template byte_d<1>(p11), fx, fy);
    const vd c2 =
        orrelind_colour<V>(V::template byte_d<2>(p00), V::template byte_d<2>(p10),
                           V::template byte_d<2>(p01), V::template byte_d<2>(p11), fx, fy);
    if constexpr (checked)
      *check->doubt = V::or_m(V::or_m(orrelind_byte_in_doubt<V>(c0, check->plain),
                                      orrelind_byte_in_doubt<V>(c1, check->plain)),
                              orrelind_byte_in_doubt<V>(c2, check->plain));
    return V::pack(V::to_byte(c0), V::to_byte(c1), V::to_byte(c2), alpha, V::is_zero(alpha));
  }

  const vd a00 = V::template byte_d<3>(p00), a10 = V::template byte_d<3>(p10);
  const vd a01 = V::template byte_d<3>(p01), a11 = V::template byte_d<3>(p11);
  // top = (a10 - a00) fx + a00; bottom = (a11 - a01) fx + a01;
  // A = (bottom - top) fy + top.
  const vd top = V::add_d(V::mul_d(V::sub_d(a10, a00), fx), a00);
  const vd bottom = V::add_d(V::mul_d(V::sub_d(a11, a01), fx), a01);
  const vd a = V::add_d(V::mul_d(V::sub_d(bottom, top), fy), top);
  const vi alpha = V::to_byte(a);
  const vm transparent = V::is_zero(alpha);

  // Where the alphas differ each colour weighs as much as its alpha and the
  // sum is divided by A; where they agree the weights and the divisor are
  // 1. A lane that ends transparent is zeroed whatever k is; it divides by
  // 1 rather than by an A that may be 0.
  const vd one = V::splat_d(1.0);
  const vd w00 = V::select_d(one_alpha, one, a00);
  const vd w10 = V::select_d(one_alpha, one, a10);
  const vd w01 = V::select_d(one_alpha, one, a01);
  const vd w11 = V::select_d(one_alpha, one, a11);
  const vd k = V::div_d(one, V::select_d(V::or_m(one_alpha, transparent), one, a));
  const vd c0 =
      V::mul_d(orrelind_colour<V>(
                   orrelind_weighted<V, 0>(p00, w00), orrelind_weighted<V, 0>(p10, w10),
                   orrelind_weighted<V, 0>(p01, w01), orrelind_weighted<V, 0>(p11, w11), fx, fy),
               k);
  const vd c1 =
      V::mul_d(orrelind_colour<V>(
                   orrelind_weighted<V, 1>(p00, w00), orrelind_weighted<V, 1>(p10, w10),
                   orrelind_weighted<V, 1>(p01, w01), orrelind_weighted<V, 1>(p11, w11), fx, fy),
               k);
  const vd c2 =
      V::mul_d(orrelind_colour<V>(
                   orrelind_weighted<V, 2>(p00, w00), orrelind_weighted<V, 2>(p10, w10),
                   orrelind_weighted<V, 2>(p01, w01), orrelind_weighted<V, 2>(p11, w11), fx, fy),
               k);
  // A transparent lane's colours are thrown away, but checking them too
  // costs less than telling them apart, and they seldom lie on a boundary.
  if constexpr (checked) {
    const vd margin = V::select_d(one_alpha, check->plain, check->weighted);
    *check->doubt = V::or_m(
        V::or_m(orrelind_byte_in_doubt<V>(a, check->plain), orrelind_byte_in_doubt<V>(c0, margin)),
        V::or_m(orrelind_byte_in_doubt<V>(c1, margin), orrelind_byte_in_doubt<V>(c2, margin)));
  }
  return V::pack(V::to_byte(c0), V::to_byte(c1), V::to_byte(c2), alpha, transparent);
}

// The byte of one colour in single precision, where that provably gives
// the byte of the double formulas; clears `sure` in lanes where it may not.
//
// Why it can: the exact bilinear value M of bytes q (with fx, fy in 0..1)
// lies in 0..255, and the double formulas round M + 0.5 with an error far
// below 1e-12. The same formulas in floats (u = 2^-24) from the rounded fx,
// fy err by at most 766u in top, 1788u in v and 3321u in the result, and
// 3577u once 0.5 is added: t = M + 0.5 within 2.2e-4. If t - d and t + d
// truncate to one integer n, with d = orrelind_estimate_margin = 2^-11
// (8192u, far more than those errors plus the roundings of t +- d:
// orrelind_estimate_error, asserted below it), then the double M + 0.5 lies
// strictly between n and n + 1, and clamping and truncating it gives n. A
// lane where they differ is near a rounding boundary (about one in a
// thousand) and the double formulas decide.
//
// A sure byte is sure for nearby source points too, which the checked
// resampling relies on: the exact M + 0.5 of a sure lane lies at least
// (8192 - 3577 - 128) u = 2.7e-4 from an integer (128 u for rounding t +- d
// near 256), and fractions off by at most orrelind_point_bound_limit =
// 2^-24 move M by at most 510 x 2^-24 = 3.1e-5 (orrelind_points.h asserts
// that too).
template <class V, int k>
__attribute__((always_inline)) inline typename V::vw orrelind_estimate_byte(
    typename V::vw p00, typename V::vw p10, typename V::vw p01, typename V::vw p11,
    typename V::vf fx, typename V::vf fy, typename V::vmw* sure) {
  using vf = typename V::vf;
  const vf q00 = V::template byte_f<k>(p00), q10 = V::template byte_f<k>(p10);
  const vf q01 = V::template byte_f<k>(p01), q11 = V::template byte_f<k>(p11);
  const vf top = V::add_f(V::mul_f(V::sub_f(q10, q00), fx), q00);
  const vf v = V::add_f(V::sub_f(q01, top), V::mul_f(V::sub_f(q11, q01), fx));
  const vf t = V::add_f(V::add_f(V::mul_f(v, fy), top), V::splat_f(0.5f));
  const vf margin = V::splat_f(orrelind_estimate_margin);
  const typename V::vw low = V::trunc_f(V::sub_f(t, margin));
  const typename V::vw high = V::trunc_f(V::add_f(t, margin));
  *sure = V::and_w(*sure, V::same(low, high));
  return low;
}

// Output pixels of 2 V::lanes source points around which the alpha is one,
// worked out in single precision, twice as many at a time. Returns false,
// having written nothing, if any byte is not sure.
template <class V>
__attribute__((always_inline)) inline bool orrelind_estimate(const orrelind_neighbours<V>& a,
                                                             const orrelind_neighbours<V>& b,
                                                             uint32_t* dst) {
  using vw = typename V::vw;
  const vw p00 = V::join(a.p00, b.p00), p10 = V::join(a.p10, b.p10);
  const vw p01 = V::join(a.p01, b.p01), p11 = V::join(a.p11, b.p11);
  const typename V::vf fx = V::to_float(a.fx, b.fx), fy = V::to_float(a.fy, b.fy);
  typename V::vmw sure = V::same(p00, p00);
  const vw b0 = orrelind_estimate_byte<V, 0>(p00, p10, p01, p11, fx, fy, &sure);
  const vw b1 = orrelind_estimate_byte<V, 1>(p00, p10, p01, p11, fx, fy, &sure);
  const vw b2 = orrelind_estimate_byte<V, 2>(p00, p10, p01, p11, fx, fy, &sure);
  if (!V::all_w(sure)) return false;
  V::store_w(dst, V::pack_w(b0, b1, b2, p00));
  return true;
}

// One step of the run: V::lanes pixels, or twice as many where the adapter
// has the single-precision estimate and the alpha around every point is
// one. Everything the estimate is not sure of is blended exactly.
template <class V>
constexpr size_t orrelind_step = V::single ? 2 * V::lanes : V::lanes;

// A blend of the run, and its lanes in doubt as bits where it is checked
// (0 unchecked).
template <class V, bool checked>
__attribute__((always_inline)) inline typename V::vi orrelind_blend_noting(
    const orrelind_neighbours<V>& n, typename V::vd plain, typename V::vd weighted,
    uint64_t* bits) {
  if constexpr (checked) {
    typename V::md in_doubt;
    const orrelind_check<V> check{plain, weighted, &in_doubt};
    const typename V::vi out = orrelind_blend<V, true>(n, &check);
    *bits = V::bits_d(in_doubt);
    return out;
  } else {
    return orrelind_blend<V, false>(n, nullptr);
  }
}

// The step returns the lanes in doubt as bits. What the estimate is sure of
// needs no check: the estimate's margin also covers source points off by
// the most orrelind_point_bound_limit allows (see orrelind_estimate).
template <class V, bool checked>
__attribute__((always_inline)) inline uint64_t orrelind_resample_step(
    const orrelind_source_frame& s, const double* sx, const double* sy, uint32_t* dst,
    typename V::vd plain, typename V::vd weighted) {
  const orrelind_neighbours<V> a = orrelind_neighbours_at<V>(s, sx, sy);
  uint64_t doubt = 0, bits = 0;
  if constexpr (V::single) {
    const orrelind_neighbours<V> b = orrelind_neighbours_at<V>(s, sx + V::lanes, sy + V::lanes);
    if (V::all(a.one_alpha) && V::all(b.one_alpha) && orrelind_estimate<V>(a, b, dst)) return 0;
    V::store(dst + V::lanes, orrelind_blend_noting<V, checked>(b, plain, weighted, &bits));
    doubt = bits << V::lanes;
  }
  V::store(dst, orrelind_blend_noting<V, checked>(a, plain, weighted, &bits));
  return doubt | bits;
}

// How many pixels ahead the two source rows of a point are requested. The
// source points of consecutive pixels follow an arc through the frame,
// which no hardware prefetcher foresees; without the requests the
// resampling waits on memory most of the time.
constexpr size_t orrelind_prefetch_distance = 32;

// Requests the two source rows of a point. The addresses are worked out in
// integers, and the lower row is requested even on the last row: a request
// beyond the frame is only a wasted one, never a fault, and checking costs
// more than it saves.
struct orrelind_prefetcher {
  uintptr_t pixels;
  uintptr_t row_bytes;
  uint64_t width;

  explicit orrelind_prefetcher(const orrelind_source_frame& s)
      : pixels(reinterpret_cast<uintptr_t>(s.pixels)),
        row_bytes(uintptr_t(s.width) * sizeof(uint32_t)),
        width(s.width) {}

  // Always inlined: GCC 12 otherwise takes a call of it for one without
  // effect (a prefetch changes no memory) and deletes it.
  __attribute__((always_inline)) void operator()(double sx, double sy) const {
    const uint64_t at = uint64_t(uint32_t(sy)) * width + uint32_t(sx);
    const uintptr_t p = pixels + uintptr_t(at) * sizeof(uint32_t);
    __builtin_prefetch(reinterpret_cast<const void*>(p));
    __builtin_prefetch(reinterpret_cast<const void*>(p + row_bytes));
  }
};

// A run of n output pixels: whole steps first, the rest a lane at a time.
// Checked, bit i of doubt (bit i % 64 of word i / 64) is set for every
// pixel in doubt, with the margins given; unchecked, neither is read.
template <class V, bool checked>
__attribute__((always_inline)) inline void orrelind_resample_lanes(
    const orrelind_source_frame& s, const double* sx, const double* sy, size_t n, uint32_t* dst,
    const orrelind_byte_margins* margins, uint64_t* doubt) {
  constexpr size_t ahead = orrelind_prefetch_distance;
  constexpr size_t step = orrelind_step<V>;
  // Steps start at multiples of step, so a step's bits never straddle two
  // words.
  static_assert(64 % step == 0, "a step's doubt bits must lie in one word");
  const orrelind_prefetcher prefetch(s);
  const double plain_margin = checked ? margins->plain : 0.0;
  const double weighted_margin = checked ? margins->weighted : 0.0;
  const typename V::vd plain = V::splat_d(plain_margin);
  const typename V::vd weighted = V::splat_d(weighted_margin);
  const auto note = [=](size_t i, uint64_t bits) {
    if constexpr (checked)
      if (bits) doubt[i / 64] |= bits << (i % 64);
  };
  for (size_t j = 0; j < n && j < ahead; ++j) prefetch(sx[j], sy[j]);
  size_t i = 0;
  for (; i + step + ahead <= n; i += step) {
    for (size_t j = i + ahead; j < i + ahead + step; ++j) prefetch(sx[j], sy[j]);
    note(i, orrelind_resample_step<V, checked>(s, sx + i, sy + i, dst + i, plain, weighted));
  }
  for (size_t j = i + ahead; j < n; ++j) prefetch(sx[j], sy[j]);
  for (; i + step <= n; i += step)
    note(i, orrelind_resample_step<V, checked>(s, sx + i, sy + i, dst + i, plain, weighted));
  uint64_t bits = 0;
  if constexpr (step > V::lanes)
    for (; i + V::lanes <= n; i += V::lanes) {
      V::store(dst + i, orrelind_blend_noting<V, checked>(
                            orrelind_neighbours_at<V>(s, sx + i, sy + i), plain, weighted, &bits));
      note(i, bits);
    }
  for (; i < n; ++i) {
    dst[i] = orrelind_blend_noting<portable, checked>(
        orrelind_neighbours_at<portable>(s, sx + i, sy + i), plain_margin, weighted_margin, &bits);
    note(i, bits);
  }
}

// The plain resampling (orrelind_resample_fn) and the checked one
// (orrelind_checked_resample_fn) of an adapter.
template <class V>
void orrelind_resample_run(const orrelind_source_frame& s, const double* sx, const double* sy,
                           size_t n, uint32_t* dst) {
  orrelind_resample_lanes<V, false>(s, sx, sy, n, dst, nullptr, nullptr);
}

template <class V>
void orrelind_resample_run_checked(const orrelind_source_frame& s, const double* sx,
                                   const double* sy, size_t n, uint32_t* dst,
                                   const orrelind_byte_margins& margins, uint64_t* doubt) {
  orrelind_resample_lanes<V, true>(s, sx, sy, n, dst, &margins, doubt);
}
