// A test-only effect on kestrune's framework that registers one parameter of
// each of the five API types, so the value exchange of every type can be
// checked through the entry points.
//
// Its update writes, from pixel 0 on: width, height, pixel_count, then the
// input frame's pixels from pixel 3 on (the first input only). Sizes steer
// its failures: width 7 is not valid, width 13 throws std::bad_alloc from
// the constructor after two parameters, width 17 throws another exception.
#include <stdexcept>

#include "effect_framework.h"

namespace {

class framework_probe : public frei0r::filter {
 public:
  framework_probe(unsigned int frame_width, unsigned int) : valid(frame_width != 7), scratch(64) {
    add_param(level, "Level", "a double");
    add_param(enabled, "Enabled", "a boolean");
    if (frame_width == 13) throw std::bad_alloc();
    if (frame_width == 17) throw std::runtime_error("not an allocation failure");
    add_param(tint, "Tint", "a colour");
    add_param(where, "Where", "a position");
    add_param(label, "Label", "a string long enough to live on the heap");
  }

  bool is_valid() const override { return valid; }

  using frei0r::filter::update;
  void update(double, uint32_t* out, const uint32_t* in) override {
    out[0] = width;
    out[1] = height;
    out[2] = pixel_count;
    for (uint32_t i = 3; i < pixel_count; ++i) out[i] = in[i];
  }

 private:
  double level = 0.25;
  bool enabled = true;
  f0r_param_color_t tint{0.5f, 0.25f, 0.125f};
  f0r_param_position_t where{0.75, -2.0};
  std::string label = "initial text, longer than a small string";
  bool valid;
  std::vector<int> scratch;  // something for the destructor to free
};

const frei0r::registration<framework_probe> probe_registered("framework probe",
                                                             "checks the framework", "tests", 2, 3,
                                                             F0R_COLOR_MODEL_PACKED32);

}  // namespace
