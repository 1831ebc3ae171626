// bramquil's hot loops, written once for any vector width. Each kernel
// source defines an adapter V and includes this file inside an unnamed
// namespace (and, for a wider instruction set, inside its target region),
// so every instantiation stays private to that source. This file includes
// nothing itself: whatever it pulled in would be compiled for that target
// too.
//
// V provides the shared operations and bramquil's own, with the meanings
// common/operations.md gives them. The scalar ones (common/scalar_ops.h)
// are included before this file.

// One lane of everything: the portable build, and the last few pixels of
// every run of the others.
struct portable : scalar_lanes {
  static constexpr size_t dlanes = 1;
  static constexpr size_t lanes = 1;

  static vd and_d(md m, vd a) { return m ? a : 0.0; }
  static bool same_d(vd a, vd b) { return a == b; }
  static void store_index(uint32_t* p, vd a) { *p = uint32_t(a); }

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
template <class V, bool ToFrame, class Slot, class Frame>
inline void move_group(Slot* const* slots, size_t n, Frame* frame, size_t width, size_t height) {
  const size_t n4 = n & ~size_t(3);
  size_t j = 0;
  for (; j + 4 <= height; j += 4) {
    for (size_t c = 0; c < n4; c += 4) {
      Frame* const rows[4] = {frame + j * width + c, frame + (j + 1) * width + c,
                              frame + (j + 2) * width + c, frame + (j + 3) * width + c};
      Slot* const cols[4] = {slots[c] + j, slots[c + 1] + j, slots[c + 2] + j, slots[c + 3] + j};
      if constexpr (ToFrame)
        V::transpose4(cols, rows);
      else
        V::transpose4(rows, cols);
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

template <class V>
void columns_to_slots(uint32_t* const* slots, size_t n, const uint32_t* frame, size_t width,
                      size_t height) {
  move_group<V, false>(slots, n, frame, width, height);
}

template <class V>
void slots_to_columns(const uint32_t* const* slots, size_t n, uint32_t* frame, size_t width,
                      size_t height) {
  move_group<V, true>(slots, n, frame, width, height);
}

// ---- The Stargate run ----

template <class V>
struct sg_vconsts {
  typename V::vd length, along, half_length, period, inv_period, period_m1, zero;
  explicit sg_vconsts(const bramquil_sg_consts& c)
      : length(V::splat_d(c.length)),
        along(V::splat_d(c.along)),
        half_length(V::splat_d(c.half_length)),
        period(V::splat_d(c.period)),
        inv_period(V::splat_d(c.inv_period)),
        period_m1(V::splat_d(c.period_m1)),
        zero(V::splat_d(0.0)) {}
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
template <class V>
inline typename V::vd sg_position(typename V::vd b, typename V::vd z, const sg_vconsts<V>& c) {
  using vd = typename V::vd;
  const vd u =
      V::floor_d(V::add_d(V::div_d(V::mul_d(V::mul_d(b, z), c.length), c.along), c.half_length));
  vd m = V::sub_d(u, V::mul_d(V::floor_d(V::mul_d(u, c.inv_period)), c.period));
  m = V::add_d(m, V::and_d(V::less_d(m, c.zero), c.period));
  m = V::sub_d(m, V::and_d(V::at_least_d(m, c.period), c.period));
  return V::select_d(V::less_d(m, c.length), m, V::sub_d(c.period_m1, m));
}

// Positions of pixels i + q … i + count − 1 of the run into pos[q …], as
// far as whole vectors reach; returns where it stopped.
template <class V, bool Columns>
inline size_t sg_positions_from(const bramquil_sg_run& r, size_t i, size_t q, size_t count,
                                uint32_t* pos) {
  const sg_vconsts<V> c(*r.consts);
  for (; q + V::dlanes <= count; q += V::dlanes) {
    typename V::vd b, z;
    if constexpr (Columns) {
      b = V::splat_d(r.b);
      z = V::load_d(r.z + i + q);
    } else {
      // Offsets are whole numbers plus one half, far below 2^52: exact.
      b = V::add_d(V::splat_d(r.b + double(i + q)), V::ramp_d());
      z = V::splat_d(r.z[0]);
    }
    V::store_index(pos + q, sg_position<V>(b, z, c));
  }
  return q;
}

// Colour bytes times k, rounded: trunc(c × k + 0.5) in doubles.
inline uint32_t sg_fade_double(uint32_t p, double k) {
  uint32_t out = p & bramquil_alpha_mask;
  for (int ch = 0; ch < 3; ++ch) {
    const unsigned s = effects::byte_shift(ch);
    out |= uint32_t(double((p >> s) & 0xFFu) * k + 0.5) << s;
  }
  return out;
}

// (c × K + 2^23) >> 24 for colour byte ch.
template <class V, int ch>
inline typename V::vi sg_fade_channel(typename V::vi p, typename V::vi factor) {
  constexpr unsigned s = effects::byte_shift(ch);
  const typename V::vi c = V::bit_and(V::template shift_right<s>(p), V::splat(0xFFu));
  return V::template shift_left<s>(
      V::template shift_right<24>(V::add(V::mul_lo(c, factor), V::splat(1u << 23))));
}

// Reads pixels i + q … of the run from the ring (their positions along the
// slit at pos[q …]) and fades them into the output and, with columns, its
// mirror image, as far as whole vectors reach.
template <class V, bool Columns, class Index>
inline size_t sg_fade_from(const bramquil_sg_run& r, size_t i, size_t q, size_t count,
                           const Index* pos) {
  using vi = typename V::vi;
  for (; q + V::lanes <= count; q += V::lanes) {
    const vi p = Columns ? V::gather(r.ring, r.offset + i + q, pos + q)
                         : V::gather(r.ring, r.offset[0], pos + q);
    const vi factor = Columns ? V::load(r.factor + i + q) : V::splat(r.factor[0]);
    vi out;
    if (V::any_equal(factor, bramquil_no_factor)) {
      uint32_t px[V::lanes], faded[V::lanes];
      V::store(px, p);
      for (size_t e = 0; e < V::lanes; ++e)
        faded[e] = sg_fade_double(px[e], Columns ? r.k[i + q + e] : r.k[0]);
      out = V::load(faded);
    } else {
      out = V::bit_or(
          V::bit_and(p, V::splat(bramquil_alpha_mask)),
          V::bit_or(sg_fade_channel<V, 0>(p, factor),
                    V::bit_or(sg_fade_channel<V, 1>(p, factor), sg_fade_channel<V, 2>(p, factor))));
    }
    V::store(r.out + i + q, out);
    if constexpr (Columns) V::store(r.mirror_end - (i + q) - V::lanes, V::reverse(out));
  }
  return q;
}

template <class V, bool Columns, class Index>
inline void sg_fade(const bramquil_sg_run& r, size_t i, size_t count, const Index* pos) {
  const size_t q = sg_fade_from<V, Columns>(r, i, 0, count, pos);
  sg_fade_from<portable, Columns>(r, i, q, count, pos);
}

// Pixels per block whose positions are worked out: all of them first, then
// the ring reads and the colours, so that neither long dependency chain
// stalls the other.
constexpr size_t sg_block = 64;

template <class V, bool Columns>
void sg_run(const bramquil_sg_run& r) {
  if (r.table) {
    sg_fade<V, Columns>(r, 0, r.n, r.table);
    return;
  }
  alignas(64) uint32_t pos[sg_block];
  for (size_t i = 0; i < r.n; i += sg_block) {
    const size_t count = r.n - i < sg_block ? r.n - i : sg_block;
    const size_t q = sg_positions_from<V, Columns>(r, i, 0, count, pos);
    sg_positions_from<portable, Columns>(r, i, q, count, pos);
    if (r.store)
      for (size_t e = 0; e < count; ++e) r.store[i + e] = uint16_t(pos[e]);
    sg_fade<V, Columns>(r, i, count, pos);
  }
}

// Exhaustive over the byte values, in doubles: c × k + 0.5 as the fade
// forms it, and (c × K + 2^23) / 2^24, which is exact (every term lies
// below 2^33 and the division is by a power of two); their whole parts must
// agree. A factor fails when some c × k + 0.5 lies within about 2^-17 of a
// whole number.
template <class V>
uint32_t sg_factor(double k) {
  using vd = typename V::vd;
  const double scaled = k * 16777216.0 + 0.5;
  if (!(scaled >= 0.0 && scaled < 16777217.0)) return bramquil_no_factor;
  const uint32_t factor = uint32_t(scaled);
  const vd kv = V::splat_d(k);
  const vd fv = V::splat_d(double(factor));
  const vd half = V::splat_d(0.5);
  const vd bias = V::splat_d(8388608.0);
  const vd scale = V::splat_d(1.0 / 16777216.0);
  const vd step = V::splat_d(double(V::dlanes));
  vd c = V::ramp_d();
  for (size_t i = 0; i < 256; i += V::dlanes) {
    const vd exact = V::floor_d(V::add_d(V::mul_d(c, kv), half));
    const vd fixed = V::floor_d(V::mul_d(V::add_d(V::mul_d(c, fv), bias), scale));
    if (!V::same_d(exact, fixed)) return bramquil_no_factor;
    c = V::add_d(c, step);
  }
  return factor;
}

template <class V>
constexpr bramquil_kernel_set make_kernels() {
  return {&columns_to_slots<V>, &slots_to_columns<V>, &sg_run<V, true>, &sg_run<V, false>,
          &sg_factor<V>};
}
