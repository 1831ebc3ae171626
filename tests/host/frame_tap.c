/* A test-only filter that records what the host hands the next filter: it
 * passes every frame through unchanged and appends to the file named by
 * FRAME_TAP_FILE one record per update: the time (a double), width, height
 * and the instance's serial number (32-bit each: 0 for the first instance
 * constructed, and so on) and the frame's pixels. Placed first in a chain,
 * it gives the exact input and times of the same run, even if the host
 * drops or repeats frames, and which instance got which frame when the host
 * renders on several threads. Being a test tool it may lock: records of
 * different threads must not interleave. */
#include <frei0r.h>

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef struct {
  uint32_t width, height, serial;
} tap_instance;

static pthread_mutex_t tap_lock = PTHREAD_MUTEX_INITIALIZER;
static uint32_t tap_instances; /* under tap_lock */

int f0r_init(void) { return 1; }
void f0r_deinit(void) {}

void f0r_get_plugin_info(f0r_plugin_info_t* info) {
  info->name = "frame_tap";
  info->author = "tests";
  info->plugin_type = F0R_PLUGIN_TYPE_FILTER;
  info->color_model = F0R_COLOR_MODEL_RGBA8888;
  info->frei0r_version = 1;
  info->major_version = 1;
  info->minor_version = 0;
  info->num_params = 0;
  info->explanation = "records every frame and time it is given";
}

void f0r_get_param_info(f0r_param_info_t* info, int index) {
  (void)info;
  (void)index;
}

f0r_instance_t f0r_construct(unsigned width, unsigned height) {
  tap_instance* t = calloc(1, sizeof *t);
  if (t) {
    t->width = width;
    t->height = height;
    pthread_mutex_lock(&tap_lock);
    t->serial = tap_instances++;
    pthread_mutex_unlock(&tap_lock);
  }
  return t;
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

void f0r_update(f0r_instance_t instance, double time, const uint32_t* in, uint32_t* out) {
  const tap_instance* t = instance;
  const size_t pixels = (size_t)t->width * t->height;
  const char* file = getenv("FRAME_TAP_FILE");
  if (file) {
    pthread_mutex_lock(&tap_lock);
    FILE* f = fopen(file, "ab");
    if (f) {
      fwrite(&time, sizeof time, 1, f);
      fwrite(&t->width, sizeof t->width, 1, f);
      fwrite(&t->height, sizeof t->height, 1, f);
      fwrite(&t->serial, sizeof t->serial, 1, f);
      fwrite(in, 4, pixels, f);
      fclose(f);
    }
    pthread_mutex_unlock(&tap_lock);
  }
  memmove(out, in, pixels * 4);
}
