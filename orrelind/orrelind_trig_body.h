// Sine and cosine in vector arithmetic, and an offset turned by an angle,
// written once for any number of lanes over the adapter V (see
// orrelind_resample_body.h: included the same way, inside each adapter's
// target region and unnamed namespace). They do not round correctly; what
// they promise is an absolute error bound, stated with each
// (orrelind_points.h carries it through), and orrelind_points_test.cpp
// holds every adapter to it against MPFR.
//
// The adapter's operations are those of common/operations.md. Every
// bound here counts two roundings for mul_add_any_d, which covers one.
//
// The polynomial coefficients are Chebyshev fits (60 digits, rounded to
// the nearest double) of (sin(r) - r) / r^3 and (cos(r) - 1 + r^2 / 2) / r^4
// in s = r^2 over |r| <= pi / 2 (1 + 2^-20), of degree 6. Their
// approximation errors, of the rounded coefficients: sin 7.6e-16 (2^-50.2),
// cos 6.9e-17 (2^-53.7).

// Sine and cosine of |a| < 16: each within orrelind_sincos_error = 2^-49 of
// the true value.
//
// a = k pi + r with k the nearest whole number to a / pi and
// r = ((a - k C1) - k C2) - k C3, where C1 and C2 hold 33 bits of pi each
// and C3 the next 53: k C1 and k C2 are exact for |k| < 2^20, and so is
// a - k C1 (the two are within a factor 2), so r is within two roundings
// (u = 2^-53 each, |r| < 2) and k 2e-37 of the true remainder, and
// |r| <= pi / 2 (1 + 2^-20). sin a and cos a are sin r and cos r, negated
// for odd k. Error, in u: the remainder 2, the polynomials 6.8 (sin) and
// 0.6 (cos), their evaluation 3.7 and 5.9 (the last sum within 0.5 and 1,
// the tails below 0.65 and 1.24 within 5 u and 4 u of themselves): 12.5 u
// at most, within 2^-49 = 16 u.
template <class V>
__attribute__((always_inline)) inline void orrelind_sincos(typename V::vd a, typename V::vd* sin_a,
                                                           typename V::vd* cos_a) {
  using vd = typename V::vd;
  // Adding 1.5 x 2^52 rounds to a whole number, which then fills the low
  // bits of the sum (bit 0 says whether it is odd); taking it away again
  // leaves the number.
  const vd whole = V::splat_d(0x1.8p52);
  const vd biased = V::mul_add_any_d(a, V::splat_d(0x1.45f306dc9c883p-2), whole);
  const vd k = V::sub_d(biased, whole);
  vd r = V::mul_add_any_d(k, V::splat_d(-0x1.921fb544p+1), a);
  r = V::mul_add_any_d(k, V::splat_d(-0x1.0b4611a6p-33), r);
  r = V::mul_add_any_d(k, V::splat_d(-0x1.3198a2e037073p-68), r);
  const vd s = V::mul_d(r, r);

  vd ps = V::splat_d(-0x1.a10950de8fb53p-41);
  ps = V::mul_add_any_d(ps, s, V::splat_d(0x1.60f6f0cb30f3fp-33));
  ps = V::mul_add_any_d(ps, s, V::splat_d(-0x1.ae63bdfa4c3fap-26));
  ps = V::mul_add_any_d(ps, s, V::splat_d(0x1.71de394e58060p-19));
  ps = V::mul_add_any_d(ps, s, V::splat_d(-0x1.a01a019e69955p-13));
  ps = V::mul_add_any_d(ps, s, V::splat_d(0x1.1111111110067p-7));
  ps = V::mul_add_any_d(ps, s, V::splat_d(-0x1.555555555554fp-3));
  const vd sin_r = V::mul_add_any_d(V::mul_d(r, s), ps, r);

  vd pc = V::splat_d(0x1.a2838351ffe7fp-45);
  pc = V::mul_add_any_d(pc, s, V::splat_d(-0x1.936ed19366f3fp-37));
  pc = V::mul_add_any_d(pc, s, V::splat_d(0x1.1eed4b0eb5ec7p-29));
  pc = V::mul_add_any_d(pc, s, V::splat_d(-0x1.27e4fb025531ap-22));
  pc = V::mul_add_any_d(pc, s, V::splat_d(0x1.a01a019f59573p-16));
  pc = V::mul_add_any_d(pc, s, V::splat_d(-0x1.6c16c16c164aap-10));
  pc = V::mul_add_any_d(pc, s, V::splat_d(0x1.5555555555554p-5));
  pc = V::mul_add_any_d(pc, s, V::splat_d(-0.5));
  const vd cos_r = V::mul_add_any_d(pc, s, V::splat_d(1.0));

  const vd odd = V::template shift_left_d<63>(biased);
  *sin_a = V::xor_d(sin_r, odd);
  *cos_a = V::xor_d(cos_r, odd);
}

// (x, y) turned by phi about the origin: (x cp - y sp, y cp + x sp) with cp,
// sp the cosine and sine of phi. Each within orrelind_turn_error = 2^-48
// times the length of (x, y) of the exact turn, for |phi| < 16. The warp
// turns the offset from the centre this way, so it never needs the angle
// to the centre, nor its cosine and sine.
//
// Error, in u = 2^-53 times the length l: cp and sp within 16 u each
// (orrelind_sincos) move x cp - y sp by at most 16 u (|x| + |y|) <= 22.7 u;
// the two products round within u (|x cp| + |y sp|) <= 1.5 u and the
// difference within 1 u: 25.2 u, within 32 u; and so the second.
template <class V>
__attribute__((always_inline)) inline void orrelind_turn_by(typename V::vd x, typename V::vd y,
                                                            typename V::vd cp, typename V::vd sp,
                                                            typename V::vd* tx,
                                                            typename V::vd* ty) {
  *tx = V::sub_d(V::mul_d(x, cp), V::mul_d(y, sp));
  *ty = V::mul_add_any_d(y, cp, V::mul_d(x, sp));
}

template <class V>
__attribute__((always_inline)) inline void orrelind_turn(typename V::vd x, typename V::vd y,
                                                         typename V::vd phi, typename V::vd* tx,
                                                         typename V::vd* ty) {
  typename V::vd sp, cp;
  orrelind_sincos<V>(phi, &sp, &cp);
  orrelind_turn_by<V>(x, y, cp, sp, tx, ty);
}

// Over arrays, for the tests (n a multiple of V::lanes).
template <class V>
void orrelind_sincos_run(const double* a, size_t n, double* s, double* c) {
  for (size_t i = 0; i < n; i += V::lanes) {
    typename V::vd sin_a, cos_a;
    orrelind_sincos<V>(V::load_d(a + i), &sin_a, &cos_a);
    V::store_d(s + i, sin_a);
    V::store_d(c + i, cos_a);
  }
}

template <class V>
void orrelind_turn_run(const double* x, const double* y, const double* phi, size_t n, double* tx,
                       double* ty) {
  for (size_t i = 0; i < n; i += V::lanes) {
    typename V::vd turned_x, turned_y;
    orrelind_turn<V>(V::load_d(x + i), V::load_d(y + i), V::load_d(phi + i), &turned_x, &turned_y);
    V::store_d(tx + i, turned_x);
    V::store_d(ty + i, turned_y);
  }
}
