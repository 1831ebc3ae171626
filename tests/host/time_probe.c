/* A test-only filter that reports what the host hands it: each output frame
 * is the input with the time argument's eight bytes written over its first
 * two pixels. Running it over a clip tells a host test the exact sequence of
 * times the host passes, so a replay in the test host can use the same. */
#include <frei0r.h>

#include <stdlib.h>
#include <string.h>

typedef struct {
  unsigned width, height;
} probe_instance;

int f0r_init(void) { return 1; }
void f0r_deinit(void) {}

void f0r_get_plugin_info(f0r_plugin_info_t* info) {
  info->name = "time_probe";
  info->author = "tests";
  info->plugin_type = F0R_PLUGIN_TYPE_FILTER;
  info->color_model = F0R_COLOR_MODEL_RGBA8888;
  info->frei0r_version = 1;
  info->major_version = 1;
  info->minor_version = 0;
  info->num_params = 0;
  info->explanation = "writes the time into the first two pixels";
}

void f0r_get_param_info(f0r_param_info_t* info, int index) {
  (void)info;
  (void)index;
}

f0r_instance_t f0r_construct(unsigned width, unsigned height) {
  probe_instance* p = calloc(1, sizeof *p);
  if (p) {
    p->width = width;
    p->height = height;
  }
  return p;
}

void f0r_destruct(f0r_instance_t instance) { free(instance); }

void f0r_set_param_value(f0r_instance_t i, f0r_param_t p, int index) {
  (void)i;
  (void)p;
  (void)index;
}

void f0r_get_param_value(f0r_instance_t i, f0r_param_t p, int index) {
  (void)i;
  (void)p;
  (void)index;
}

void f0r_update(f0r_instance_t instance, double time, const uint32_t* in,
                uint32_t* out) {
  const probe_instance* p = instance;
  const size_t pixels = (size_t)p->width * p->height;
  memmove(out, in, pixels * 4);
  if (pixels >= 2) memcpy(out, &time, sizeof time);
}
