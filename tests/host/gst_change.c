/* gst_change: runs a gst-launch style pipeline and sets properties of one
 * element just before that element receives given buffers, which
 * gst-launch-1.0 itself cannot do. Stands in for an application that
 * changes an effect parameter while playing.
 *
 *   gst_change PIPELINE ELEMENT_NAME [PROPERTY VALUE N]...
 *
 * ELEMENT_NAME is the name= given in PIPELINE; VALUE is parsed as the
 * property's type (a double, or true/false); N counts buffers from 0.
 * Exits 0 when the pipeline ran to its end. */
#include <gst/gst.h>
#include <stdio.h>
#include <stdlib.h>

#define MAX_CHANGES 16

typedef struct {
  const char* property;
  GValue value;
  long at;
} change;

typedef struct {
  GstElement* element;
  change changes[MAX_CHANGES];
  int count;
  long seen;
} schedule;

static GstPadProbeReturn on_buffer(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
  (void)pad;
  (void)info;
  schedule* s = data;
  for (int i = 0; i < s->count; ++i)
    if (s->changes[i].at == s->seen)
      g_object_set_property(G_OBJECT(s->element), s->changes[i].property, &s->changes[i].value);
  ++s->seen;
  return GST_PAD_PROBE_OK;
}

int main(int argc, char** argv) {
  gst_init(&argc, &argv);
  if (argc < 3 || (argc - 3) % 3 != 0 || (argc - 3) / 3 > MAX_CHANGES) {
    fprintf(stderr, "usage: gst_change PIPELINE ELEMENT [PROPERTY VALUE N]...\n");
    return 2;
  }
  GError* error = NULL;
  GstElement* pipeline = gst_parse_launch(argv[1], &error);
  if (!pipeline) {
    fprintf(stderr, "%s\n", error ? error->message : "cannot parse");
    return 1;
  }
  schedule s = {0};
  s.element = gst_bin_get_by_name(GST_BIN(pipeline), argv[2]);
  if (!s.element) {
    fprintf(stderr, "no element named %s\n", argv[2]);
    return 1;
  }
  for (int a = 3; a < argc; a += 3, ++s.count) {
    change* c = &s.changes[s.count];
    GParamSpec* param = g_object_class_find_property(G_OBJECT_GET_CLASS(s.element), argv[a]);
    if (!param) {
      fprintf(stderr, "%s has no property %s\n", argv[2], argv[a]);
      return 1;
    }
    c->property = argv[a];
    c->at = atol(argv[a + 2]);
    g_value_init(&c->value, param->value_type);
    if (param->value_type == G_TYPE_BOOLEAN)
      g_value_set_boolean(&c->value, g_ascii_strcasecmp(argv[a + 1], "true") == 0);
    else
      g_value_set_double(&c->value, g_ascii_strtod(argv[a + 1], NULL));
  }
  GstPad* sink = gst_element_get_static_pad(s.element, "sink");
  gst_pad_add_probe(sink, GST_PAD_PROBE_TYPE_BUFFER, on_buffer, &s, NULL);

  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  GstBus* bus = gst_element_get_bus(pipeline);
  GstMessage* msg =
      gst_bus_timed_pop_filtered(bus, GST_CLOCK_TIME_NONE, GST_MESSAGE_ERROR | GST_MESSAGE_EOS);
  const int ok = msg && GST_MESSAGE_TYPE(msg) == GST_MESSAGE_EOS;
  if (!ok && msg) {
    GError* e = NULL;
    gst_message_parse_error(msg, &e, NULL);
    fprintf(stderr, "%s\n", e ? e->message : "error");
    g_clear_error(&e);
  }
  if (msg) gst_message_unref(msg);
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(bus);
  gst_object_unref(sink);
  gst_object_unref(s.element);
  gst_object_unref(pipeline);
  for (int i = 0; i < s.count; ++i) g_value_unset(&s.changes[i].value);
  return ok ? 0 : 1;
}
