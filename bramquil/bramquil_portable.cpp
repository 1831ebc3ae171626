// bramquil's kernels in plain C++, one pixel at a time: what every
// processor runs when the build allows no vector code, and what the last
// few pixels of every vector run go through.
#include "bramquil_dispatch.h"

namespace {

#include "common/scalar_ops.h"
#include "bramquil_body.h"

}  // namespace

extern const bramquil_kernel_set bramquil_portable_kernels = make_kernels<portable>();
