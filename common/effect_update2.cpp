// f0r_update2, for the plug-ins that offer it: a filter uses its first input
// alone, so this is f0r_update with that input. The others may be null.
#include "effect.h"

EFFECTS_EXPORT void f0r_update2(f0r_instance_t instance, double time, const uint32_t* inframe1,
                                const uint32_t* /*inframe2*/, const uint32_t* /*inframe3*/,
                                uint32_t* outframe) {
  effects::update(instance, time, inframe1, outframe);
}
