// The portable resampling, built on every processor: what a build without
// vector code runs alone.
#include "orrelind_dispatch.h"

namespace {

#include "common/scalar_ops.h"
#include "orrelind_resample_body.h"

void orrelind_resample_portable(const orrelind_source_frame& src, const double* sx,
                                const double* sy, size_t n, uint32_t* dst) {
  orrelind_resample_run<portable>(src, sx, sy, n, dst);
}

}  // namespace

// Its source points of moving values are the C library's: no vector form.
extern const orrelind_kernel_set orrelind_portable_kernels = {
    orrelind_resample_portable, orrelind_resample_portable, nullptr};
