// vestrale's passes in plain C++, one pixel at a time: what every processor
// runs when the build allows no vector code.
#include "vestrale_dispatch.h"

namespace {

#include "common/scalar_ops.h"
#include "vestrale_body.h"

}  // namespace

extern const vestrale_kernel_set vestrale_portable_kernels = make_kernels<portable>();
