// The scalar operations every portable adapter shares: one lane of each
// kind, in plain C++, on any processor and in either byte order. They carry
// the names and the exact meanings of the vector adapters' operations
// (common/operations.md), so that a kernel body written once over an
// adapter runs on them unchanged: the portable build, and the last few
// pixels of every run of the others. Like the kernel bodies, this file
// includes nothing and is included inside an adapter source's unnamed
// namespace.

// 32-bit lanes.
struct scalar_words {
  using vi = uint32_t;

  static vi load(const uint32_t* p) { return *p; }
  static void store(uint32_t* p, vi a) { *p = a; }
  static vi splat(uint32_t x) { return x; }
  static vi bit_and(vi a, vi b) { return a & b; }
  static vi bit_or(vi a, vi b) { return a | b; }
  static vi bit_xor(vi a, vi b) { return a ^ b; }
  static vi and_not(vi a, vi b) { return ~a & b; }
  static vi add(vi a, vi b) { return a + b; }
  static vi sub(vi a, vi b) { return a - b; }
  static vi mul_lo(vi a, vi b) { return a * b; }
  template <int k>
  static vi shift_right(vi a) {
    return a >> k;
  }
  template <int k>
  static vi shift_left(vi a) {
    return a << k;
  }
};

// Double lanes. There is no fused_mul_add_d: a portable build has no
// single-rounding multiply-add but a library call.
struct scalar_doubles {
  using vd = double;

  static vd splat_d(double x) { return x; }
  static vd load_d(const double* p) { return *p; }
  static vd add_d(vd a, vd b) { return a + b; }
  static vd sub_d(vd a, vd b) { return a - b; }
  static vd mul_d(vd a, vd b) { return a * b; }
  static vd div_d(vd a, vd b) { return a / b; }
  static vd floor_d(vd a) { return __builtin_floor(a); }
  static vd sqrt_d(vd a) { return __builtin_sqrt(a); }
  static vd abs_d(vd a) { return __builtin_fabs(a); }
  static vd min_d(vd a, vd b) { return a < b ? a : b; }
  static vd max_d(vd a, vd b) { return a > b ? a : b; }
  static vd ramp_d() { return 0.0; }
  static void store_d(double* p, vd a) { *p = a; }
  static vd mul_add_any_d(vd a, vd b, vd c) { return a * b + c; }

  // A mask of double lanes.
  using md = bool;
  static md less_d(vd a, vd b) { return a < b; }
  static md at_least_d(vd a, vd b) { return a >= b; }
  static vd select_d(md m, vd a, vd b) { return m ? a : b; }
};

struct scalar_lanes : scalar_words, scalar_doubles {};
