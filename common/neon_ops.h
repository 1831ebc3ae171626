// The NEON operations every NEON adapter shares (aarch64, little-endian):
// 32-bit lanes, four to a vector, and doubles, two. An adapter derives from
// neon_lanes and adds its own operations. Included inside an adapter
// source's unnamed namespace, after <arm_neon.h>; includes nothing.

// 32-bit lanes.
struct neon_words {
  using vi = uint32x4_t;

  static vi load(const uint32_t* p) { return vld1q_u32(p); }
  static void store(uint32_t* p, vi a) { vst1q_u32(p, a); }
  static vi splat(uint32_t x) { return vdupq_n_u32(x); }
  static vi bit_and(vi a, vi b) { return vandq_u32(a, b); }
  static vi bit_or(vi a, vi b) { return vorrq_u32(a, b); }
  static vi bit_xor(vi a, vi b) { return veorq_u32(a, b); }
  static vi and_not(vi a, vi b) { return vbicq_u32(b, a); }
  static vi add(vi a, vi b) { return vaddq_u32(a, b); }
  static vi sub(vi a, vi b) { return vsubq_u32(a, b); }
  static vi mul_lo(vi a, vi b) { return vmulq_u32(a, b); }
  // The immediate right shift takes 1 ... 32 only.
  template <int k>
  static vi shift_right(vi a) {
    if constexpr (k == 0)
      return a;
    else
      return vshrq_n_u32(a, k);
  }
  template <int k>
  static vi shift_left(vi a) {
    return vshlq_n_u32(a, k);
  }
};

// Double lanes.
struct neon_doubles {
  using vd = float64x2_t;

  static vd splat_d(double x) { return vdupq_n_f64(x); }
  static vd load_d(const double* p) { return vld1q_f64(p); }
  static vd add_d(vd a, vd b) { return vaddq_f64(a, b); }
  static vd sub_d(vd a, vd b) { return vsubq_f64(a, b); }
  static vd mul_d(vd a, vd b) { return vmulq_f64(a, b); }
  static vd div_d(vd a, vd b) { return vdivq_f64(a, b); }
  static vd floor_d(vd a) { return vrndmq_f64(a); }
  static vd sqrt_d(vd a) { return vsqrtq_f64(a); }
  static vd abs_d(vd a) { return vabsq_f64(a); }
  static vd min_d(vd a, vd b) { return vminq_f64(a, b); }
  static vd max_d(vd a, vd b) { return vmaxq_f64(a, b); }
  static vd ramp_d() { return vcombine_f64(vdup_n_f64(0.0), vdup_n_f64(1.0)); }
  static void store_d(double* p, vd a) { vst1q_f64(p, a); }
  template <int k>
  static vd shift_left_d(vd a) {
    return vreinterpretq_f64_u64(vshlq_n_u64(vreinterpretq_u64_f64(a), k));
  }
  static vd xor_d(vd a, vd b) {
    return vreinterpretq_f64_u64(veorq_u64(vreinterpretq_u64_f64(a), vreinterpretq_u64_f64(b)));
  }
  // a b + c, rounded once; mul_add_any_d (rounded once or twice, for
  // formulas whose bounds hold either way) is the fused one here.
  static vd fused_mul_add_d(vd a, vd b, vd c) { return vfmaq_f64(c, a, b); }
  static vd mul_add_any_d(vd a, vd b, vd c) { return fused_mul_add_d(a, b, c); }

  // A mask of double lanes: all ones where set.
  using md = uint64x2_t;
  static md less_d(vd a, vd b) { return vcltq_f64(a, b); }
  static md at_least_d(vd a, vd b) { return vcgeq_f64(a, b); }
  static vd select_d(md m, vd a, vd b) { return vbslq_f64(m, a, b); }
};

struct neon_lanes : neon_words, neon_doubles {};
