// vestrale's passes, written once for any vector width. Each kernel source
// defines an adapter W and includes this file inside an unnamed namespace;
// it includes nothing itself.
//
// W provides vi (lanes pixels), align (the bytes a streaming store needs to
// be aligned to), load, store, stream (a store past the caches, or a plain
// one), splat, bit_and, bit_or, and_not (~a & b) and fence (orders the
// streamed stores before whatever follows).

// One pixel at a time: the portable build, and the ends of every pass of
// the others.
struct scalar_lanes {
  using vi = uint32_t;
  static constexpr size_t lanes = 1;
  static constexpr size_t align = 4;
  static vi load(const uint32_t* p) { return *p; }
  static void store(uint32_t* p, vi a) { *p = a; }
  static void stream(uint32_t* p, vi a) { *p = a; }
  static vi splat(uint32_t x) { return x; }
  static vi bit_and(vi a, vi b) { return a & b; }
  static vi bit_or(vi a, vi b) { return a | b; }
  static vi and_not(vi a, vi b) { return ~a & b; }
  static void fence() {}
};

// Each step loads before it stores, so out may be in.
template <class W>
uint64_t refresh_from(uint32_t* comp, const uint32_t* in, uint32_t* out, uint64_t i, uint64_t n,
                      uint32_t take) {
  const typename W::vi keep = W::splat(take);
  for (; i + W::lanes <= n; i += W::lanes) {
    const typename W::vi r =
        W::bit_or(W::and_not(keep, W::load(comp + i)), W::bit_and(keep, W::load(in + i)));
    W::store(comp + i, r);
    W::store(out + i, r);
  }
  return i;
}

template <class W>
void refresh(uint32_t* comp, const uint32_t* in, uint32_t* out, uint64_t n, uint32_t take) {
  const uint64_t i = refresh_from<W>(comp, in, out, 0, n, take);
  refresh_from<scalar_lanes>(comp, in, out, i, n, take);
}

template <class W>
uint64_t split_from(const uint32_t* in, const uint32_t* r, const uint32_t* g, uint32_t* slot,
                    uint32_t* out, uint64_t i, uint64_t n) {
  const typename W::vi red = W::splat(vestrale_red);
  const typename W::vi green = W::splat(vestrale_green);
  const typename W::vi blue_alpha = W::splat(vestrale_blue_alpha);
  for (; i + W::lanes <= n; i += W::lanes) {
    const typename W::vi p = W::load(in + i);
    const typename W::vi o =
        W::bit_or(W::bit_or(W::bit_and(W::load(r + i), red), W::bit_and(W::load(g + i), green)),
                  W::bit_and(p, blue_alpha));
    W::stream(slot + i, p);
    W::store(out + i, o);
  }
  return i;
}

template <class W>
void split(const uint32_t* in, const uint32_t* r, const uint32_t* g, uint32_t* slot, uint32_t* out,
           uint64_t n) {
  // Single pixels up to the first slot address a streaming store takes.
  const uint64_t misaligned = (W::align - uintptr_t(slot) % W::align) % W::align / 4;
  uint64_t i = split_from<scalar_lanes>(in, r, g, slot, out, 0, n < misaligned ? n : misaligned);
  i = split_from<W>(in, r, g, slot, out, i, n);
  W::fence();
  split_from<scalar_lanes>(in, r, g, slot, out, i, n);
}

template <class W>
constexpr vestrale_kernel_set make_kernels() {
  return {&refresh<W>, &split<W>};
}
