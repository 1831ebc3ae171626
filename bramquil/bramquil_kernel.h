// bramquil's hot loops, written once for any vector width. Each kernel
// source defines an adapter W and includes this file inside an unnamed
// namespace (and, for a wider instruction set, inside its target region),
// so every instantiation stays private to that source. This file includes
// nothing itself: whatever it pulled in would be compiled for that target
// too.
//
// W provides, for doubles (vd, lane masks md, dlanes of them): splat_d,
// load_d, ramp_d (lanes 0, 1, 2, …), add_d, sub_d, mul_d, div_d, floor_d,
// less_d and at_least_d (masks), and_d (mask ? a : +0), select_d (mask ? a :
// b), same_d (every lane equal), store_index (whole doubles 0 … 2^32 − 1
// stored as 32-bit integers); for 32-bit lanes (vi, lanes of them): load,
// store, splat, bit_and, bit_or, add, mul (the low 32 bits), shift_right<k>,
// shift_left<k>, any_equal (some lane equals x), reverse (lanes in the
// opposite order), gather (lane e = ring[offset[e] + pos[e]], or with one
// offset ring[offset + pos[e]], for 16- and 32-bit positions); and
// transpose4 (d[i][r] = s[r][i] for 4 × 4 pixels).

// One lane of everything: the portable build, and the last few pixels of
// every run of the others.
struct scalar_lanes {
  using vd = double;
  using md = bool;
  using vi = uint32_t;
  static constexpr size_t dlanes = 1;
  static constexpr size_t lanes = 1;

  static vd splat_d(double x) { return x; }
  static vd load_d(const double* p) { return *p; }
  static vd ramp_d() { return 0.0; }
  static vd add_d(vd a, vd b) { return a + b; }
  static vd sub_d(vd a, vd b) { return a - b; }
  static vd mul_d(vd a, vd b) { return a * b; }
  static vd div_d(vd a, vd b) { return a / b; }
  static vd floor_d(vd a) { return __builtin_floor(a); }
  static md less_d(vd a, vd b) { return a < b; }
  static md at_least_d(vd a, vd b) { return a >= b; }
  static vd and_d(md m, vd a) { return m ? a : 0.0; }
  static vd select_d(md m, vd a, vd b) { return m ? a : b; }
  static bool same_d(vd a, vd b) { return a == b; }
  static void store_index(uint32_t* p, vd a) { *p = uint32_t(a); }

  static vi load(const uint32_t* p) { return *p; }
  static void store(uint32_t* p, vi a) { *p = a; }
  static vi splat(uint32_t x) { return x; }
  static vi bit_and(vi a, vi b) { return a & b; }
  static vi bit_or(vi a, vi b) { return a | b; }
  static vi add(vi a, vi b) { return a + b; }
  static vi mul(vi a, vi b) { return a * b; }
  template <unsigned k>
  static vi shift_right(vi a) {
    return a >> k;
  }
  template <unsigned k>
  static vi shift_left(vi a) {
    return a << k;
  }
  static bool any_equal(vi a, uint32_t x) { return a == x; }
  static vi reverse(vi a) { return a; }
  template <class Index>
  static vi gather(const uint32_t* ring, const uint64_t* offset, const Index* pos) {
    return ring[*offset + *pos];
  }
  template <class Index>
  static vi gather(const uint32_t* ring, uint64_t offset, const Index* pos) {
    return ring[offset + *pos];
  }

  static void transpose4(const uint32_t* const s[4], uint32_t* const d[4]) {
    for (int i = 0; i < 4; ++i)
      for (int r = 0; r < 4; ++r) d[i][r] = s[r][i];
  }
};

// ---- Columns between the frame and the ring ----

// Moves n <= 16 columns, all `height` rows, between the row-major frame and
// their slots in 4 × 4 blocks, so that both sides are walked in cache-sized
// pieces rather than one strided column at a time. ToFrame:
// frame[j × width + c] = slots[c][j]; otherwise the other way round.
template <class W, bool ToFrame, class Slot, class Frame>
inline void move_group(Slot* const* slots, size_t n, Frame* frame, size_t width, size_t height) {
  const size_t n4 = n & ~size_t(3);
  size_t j = 0;
  for (; j + 4 <= height; j += 4) {
    for (size_t c = 0; c < n4; c += 4) {
      Frame* const rows[4] = {frame + j * width + c, frame + (j + 1) * width + c,
                              frame + (j + 2) * width + c, frame + (j + 3) * width + c};
      Slot* const cols[4] = {slots[c] + j, slots[c + 1] + j, slots[c + 2] + j, slots[c + 3] + j};
      if constexpr (ToFrame)
        W::transpose4(cols, rows);
      else
        W::transpose4(rows, cols);
    }
    for (size_t c = n4; c < n; ++c)
      for (size_t r = j; r < j + 4; ++r) {
        if constexpr (ToFrame)
          frame[r * width + c] = slots[c][r];
        else
          slots[c][r] = frame[r * width + c];
      }
  }
  for (; j < height; ++j)
    for (size_t c = 0; c < n; ++c) {
      if constexpr (ToFrame)
        frame[j * width + c] = slots[c][j];
      else
        slots[c][j] = frame[j * width + c];
    }
}

template <class W>
void columns_to_slots(uint32_t* const* slots, size_t n, const uint32_t* frame, size_t width,
                      size_t height) {
  move_group<W, false>(slots, n, frame, width, height);
}

template <class W>
void slots_to_columns(const uint32_t* const* slots, size_t n, uint32_t* frame, size_t width,
                      size_t height) {
  move_group<W, true>(slots, n, frame, width, height);
}

// ---- The Stargate run ----

template <class W>
struct sg_vconsts {
  typename W::vd length, along, half_length, period, inv_period, period_m1, zero;
  explicit sg_vconsts(const bramquil_sg_consts& c)
      : length(W::splat_d(c.length)),
        along(W::splat_d(c.along)),
        half_length(W::splat_d(c.half_length)),
        period(W::splat_d(c.period)),
        inv_period(W::splat_d(c.inv_period)),
        period_m1(W::splat_d(c.period_m1)),
        zero(W::splat_d(0.0)) {}
};

// The slit position of offset b at depth z: U = floor(((b × z) × L) / S +
// 0.5 × L), m = U mod P floored, folded to m or P − 1 − m.
//
// Here |b| ≤ S / 2 and z < D ≤ 64 (up to a rounding), so |U| < 2^38 and
// P < 2^34: every integer involved is exact in a double. The quotient is
// estimated as floor(U × fl(1/P)); its relative error is below 2^-51, an
// absolute error far below 1, so the estimate is the true floored quotient q
// or q ± 1, and U − estimate × P is m, m − P or m + P, computed exactly. One
// correction step in each direction gives m, without a 64-bit division.
template <class W>
inline typename W::vd sg_position(typename W::vd b, typename W::vd z, const sg_vconsts<W>& c) {
  using vd = typename W::vd;
  const vd u =
      W::floor_d(W::add_d(W::div_d(W::mul_d(W::mul_d(b, z), c.length), c.along), c.half_length));
  vd m = W::sub_d(u, W::mul_d(W::floor_d(W::mul_d(u, c.inv_period)), c.period));
  m = W::add_d(m, W::and_d(W::less_d(m, c.zero), c.period));
  m = W::sub_d(m, W::and_d(W::at_least_d(m, c.period), c.period));
  return W::select_d(W::less_d(m, c.length), m, W::sub_d(c.period_m1, m));
}

// Positions of pixels i + q … i + count − 1 of the run into pos[q …], as
// far as whole vectors reach; returns where it stopped.
template <class W, bool Columns>
inline size_t sg_positions_from(const bramquil_sg_run& r, size_t i, size_t q, size_t count,
                                uint32_t* pos) {
  const sg_vconsts<W> c(*r.consts);
  for (; q + W::dlanes <= count; q += W::dlanes) {
    typename W::vd b, z;
    if constexpr (Columns) {
      b = W::splat_d(r.b);
      z = W::load_d(r.z + i + q);
    } else {
      // Offsets are whole numbers plus one half, far below 2^52: exact.
      b = W::add_d(W::splat_d(r.b + double(i + q)), W::ramp_d());
      z = W::splat_d(r.z[0]);
    }
    W::store_index(pos + q, sg_position<W>(b, z, c));
  }
  return q;
}

// Colour bytes times k, rounded: trunc(c × k + 0.5) in doubles.
inline uint32_t sg_fade_double(uint32_t p, double k) {
  uint32_t out = p & bramquil_alpha_mask;
  for (int ch = 0; ch < 3; ++ch) {
    const unsigned s = bramquil_byte_shift(ch);
    out |= uint32_t(double((p >> s) & 0xFFu) * k + 0.5) << s;
  }
  return out;
}

// (c × K + 2^23) >> 24 for colour byte ch.
template <class W, int ch>
inline typename W::vi sg_fade_channel(typename W::vi p, typename W::vi factor) {
  constexpr unsigned s = bramquil_byte_shift(ch);
  const typename W::vi c = W::bit_and(W::template shift_right<s>(p), W::splat(0xFFu));
  return W::template shift_left<s>(
      W::template shift_right<24>(W::add(W::mul(c, factor), W::splat(1u << 23))));
}

// Reads pixels i + q … of the run from the ring (their positions along the
// slit at pos[q …]) and fades them into the output and, with columns, its
// mirror image, as far as whole vectors reach.
template <class W, bool Columns, class Index>
inline size_t sg_fade_from(const bramquil_sg_run& r, size_t i, size_t q, size_t count,
                           const Index* pos) {
  using vi = typename W::vi;
  for (; q + W::lanes <= count; q += W::lanes) {
    const vi p = Columns ? W::gather(r.ring, r.offset + i + q, pos + q)
                         : W::gather(r.ring, r.offset[0], pos + q);
    const vi factor = Columns ? W::load(r.factor + i + q) : W::splat(r.factor[0]);
    vi out;
    if (W::any_equal(factor, bramquil_no_factor)) {
      uint32_t px[W::lanes], faded[W::lanes];
      W::store(px, p);
      for (size_t e = 0; e < W::lanes; ++e)
        faded[e] = sg_fade_double(px[e], Columns ? r.k[i + q + e] : r.k[0]);
      out = W::load(faded);
    } else {
      out = W::bit_or(
          W::bit_and(p, W::splat(bramquil_alpha_mask)),
          W::bit_or(sg_fade_channel<W, 0>(p, factor),
                    W::bit_or(sg_fade_channel<W, 1>(p, factor), sg_fade_channel<W, 2>(p, factor))));
    }
    W::store(r.out + i + q, out);
    if constexpr (Columns) W::store(r.mirror_end - (i + q) - W::lanes, W::reverse(out));
  }
  return q;
}

template <class W, bool Columns, class Index>
inline void sg_fade(const bramquil_sg_run& r, size_t i, size_t count, const Index* pos) {
  const size_t q = sg_fade_from<W, Columns>(r, i, 0, count, pos);
  sg_fade_from<scalar_lanes, Columns>(r, i, q, count, pos);
}

// Pixels per block whose positions are worked out: all of them first, then
// the ring reads and the colours, so that neither long dependency chain
// stalls the other.
constexpr size_t sg_block = 64;

template <class W, bool Columns>
void sg_run(const bramquil_sg_run& r) {
  if (r.table) {
    sg_fade<W, Columns>(r, 0, r.n, r.table);
    return;
  }
  alignas(64) uint32_t pos[sg_block];
  for (size_t i = 0; i < r.n; i += sg_block) {
    const size_t count = r.n - i < sg_block ? r.n - i : sg_block;
    const size_t q = sg_positions_from<W, Columns>(r, i, 0, count, pos);
    sg_positions_from<scalar_lanes, Columns>(r, i, q, count, pos);
    if (r.store)
      for (size_t e = 0; e < count; ++e) r.store[i + e] = uint16_t(pos[e]);
    sg_fade<W, Columns>(r, i, count, pos);
  }
}

// Exhaustive over the byte values, in doubles: c × k + 0.5 as the fade
// forms it, and (c × K + 2^23) / 2^24, which is exact (every term lies
// below 2^33 and the division is by a power of two); their whole parts must
// agree. A factor fails when some c × k + 0.5 lies within about 2^-17 of a
// whole number.
template <class W>
uint32_t sg_factor(double k) {
  using vd = typename W::vd;
  const double scaled = k * 16777216.0 + 0.5;
  if (!(scaled >= 0.0 && scaled < 16777217.0)) return bramquil_no_factor;
  const uint32_t factor = uint32_t(scaled);
  const vd kv = W::splat_d(k);
  const vd fv = W::splat_d(double(factor));
  const vd half = W::splat_d(0.5);
  const vd bias = W::splat_d(8388608.0);
  const vd scale = W::splat_d(1.0 / 16777216.0);
  const vd step = W::splat_d(double(W::dlanes));
  vd c = W::ramp_d();
  for (size_t i = 0; i < 256; i += W::dlanes) {
    const vd exact = W::floor_d(W::add_d(W::mul_d(c, kv), half));
    const vd fixed = W::floor_d(W::mul_d(W::add_d(W::mul_d(c, fv), bias), scale));
    if (!W::same_d(exact, fixed)) return bramquil_no_factor;
    c = W::add_d(c, step);
  }
  return factor;
}

template <class W>
constexpr bramquil_kernel_set make_kernels() {
  return {&columns_to_slots<W>, &slots_to_columns<W>, &sg_run<W, true>, &sg_run<W, false>,
          &sg_factor<W>};
}
