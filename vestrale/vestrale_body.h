// vestrale's passes, written once for any vector width. Each kernel source
// defines an adapter V and includes this file inside an unnamed namespace;
// it includes nothing itself.
//
// V provides the shared 32-bit operations and vestrale's own (stream,
// fence), with the meanings common/operations.md gives them. The scalar
// ones (common/scalar_ops.h) are included before this file.

// One pixel at a time: the portable build, and the ends of every pass of
// the others.
struct portable : scalar_words {
  static constexpr size_t lanes = 1;
  static constexpr size_t align = 4;
  static void stream(uint32_t* p, vi a) { *p = a; }
  static void fence() {}
};

// Each step loads before it stores, so out may be in.
template <class V>
uint64_t refresh_from(uint32_t* comp, const uint32_t* in, uint32_t* out, uint64_t i, uint64_t n,
                      uint32_t take) {
  const typename V::vi keep = V::splat(take);
  for (; i + V::lanes <= n; i += V::lanes) {
    const typename V::vi r =
        V::bit_or(V::and_not(keep, V::load(comp + i)), V::bit_and(keep, V::load(in + i)));
    V::store(comp + i, r);
    V::store(out + i, r);
  }
  return i;
}

template <class V>
void refresh(uint32_t* comp, const uint32_t* in, uint32_t* out, uint64_t n, uint32_t take) {
  const uint64_t i = refresh_from<V>(comp, in, out, 0, n, take);
  refresh_from<portable>(comp, in, out, i, n, take);
}

template <class V>
uint64_t split_from(const uint32_t* in, const uint32_t* r, const uint32_t* g, uint32_t* slot,
                    uint32_t* out, uint64_t i, uint64_t n) {
  const typename V::vi red = V::splat(vestrale_red);
  const typename V::vi green = V::splat(vestrale_green);
  const typename V::vi blue_alpha = V::splat(vestrale_blue_alpha);
  for (; i + V::lanes <= n; i += V::lanes) {
    const typename V::vi p = V::load(in + i);
    const typename V::vi o =
        V::bit_or(V::bit_or(V::bit_and(V::load(r + i), red), V::bit_and(V::load(g + i), green)),
                  V::bit_and(p, blue_alpha));
    V::stream(slot + i, p);
    V::store(out + i, o);
  }
  return i;
}

template <class V>
void split(const uint32_t* in, const uint32_t* r, const uint32_t* g, uint32_t* slot, uint32_t* out,
           uint64_t n) {
  // Single pixels up to the first slot address a streaming store takes.
  const uint64_t misaligned = (V::align - uintptr_t(slot) % V::align) % V::align / 4;
  uint64_t i = split_from<portable>(in, r, g, slot, out, 0, n < misaligned ? n : misaligned);
  i = split_from<V>(in, r, g, slot, out, i, n);
  V::fence();
  split_from<portable>(in, r, g, slot, out, i, n);
}

template <class V>
constexpr vestrale_kernel_set make_kernels() {
  return {&refresh<V>, &split<V>};
}
