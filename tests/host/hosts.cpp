#include "hosts.h"

#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>

#ifndef HOST_ENVIRONMENT
#define HOST_ENVIRONMENT ""
#endif

namespace hosttest {

namespace {

std::string quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Shortest text that reads back as exactly this double.
std::string number(double v) {
  char buf[64];
  for (int digits = 1; digits <= 17; ++digits) {
    std::snprintf(buf, sizeof buf, "%.*g", digits, v);
    if (std::strtod(buf, nullptr) == v) break;
  }
  return buf;
}

struct scratch_dir {
  scratch_dir() {
    char name[] = "/tmp/effects-host-XXXXXX";
    if (!mkdtemp(name)) throw std::runtime_error("mkdtemp failed");
    path = name;
  }
  ~scratch_dir() { std::system(("rm -rf " + quote(path)).c_str()); }
  std::string file(const std::string& name) const { return path + "/" + name; }
  std::string path;
};

std::string plugin_dirs() { return std::string(EFFECTS_PLUGIN_DIR) + ":" + PROBE_DIR; }

std::string environment(const scratch_dir& dir) {
  return std::string(HOST_ENVIRONMENT) + "FREI0R_PATH=" + quote(plugin_dirs()) +
         " GST_REGISTRY=" + quote(dir.file("registry.bin")) + " ";
}

// Runs a host command with our plug-ins on its search path, for at most
// `seconds`.
void run(const std::string& cmd, const scratch_dir& dir, int seconds = 300) {
  const std::string log = dir.file("log");
  // melt polls standard input for keys; a host that hangs must fail the
  // test, not the whole run.
  const std::string line =
      environment(dir) + "timeout " + std::to_string(seconds) + " " + cmd + " </dev/null >" +
      quote(log) + " 2>&1";
  if (std::system(line.c_str()) != 0) {
    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    std::string tail = text.str();
    if (tail.size() > 3000) tail = tail.substr(tail.size() - 3000);
    throw std::runtime_error("host failed: " + cmd + "\n" + tail);
  }
}

std::vector<testhost::frame> read_raw(const std::string& file, const clip& c) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error("no output " + file);
  const size_t pixels = size_t(c.width) * c.height;
  std::vector<testhost::frame> frames;
  for (;;) {
    testhost::frame f(pixels);
    if (!in.read(reinterpret_cast<char*>(f.data()), pixels * 4)) break;
    frames.push_back(std::move(f));
  }
  return frames;
}

// Records of the frame tap: time, width, height, instance serial, pixels.
void read_tap(const std::string& file, const clip& c, std::vector<testhost::frame>& frames,
              std::vector<double>& times, std::vector<uint32_t>* instances = nullptr) {
  std::ifstream in(file, std::ios::binary);
  const size_t pixels = size_t(c.width) * c.height;
  for (;;) {
    double t;
    uint32_t header[3];
    testhost::frame f(pixels);
    if (!in.read(reinterpret_cast<char*>(&t), sizeof t) ||
        !in.read(reinterpret_cast<char*>(header), sizeof header))
      break;
    if (header[0] != c.width || header[1] != c.height)
      throw std::runtime_error("frame tap saw another size");
    if (!in.read(reinterpret_cast<char*>(f.data()), pixels * 4)) break;
    frames.push_back(std::move(f));
    times.push_back(t);
    if (instances) instances->push_back(header[2]);
  }
}

std::string tap_prefix(const scratch_dir& dir) {
  return "env FRAME_TAP_FILE=" + quote(dir.file("tap.raw")) + " ";
}

std::vector<double> tap_times(const scratch_dir& dir, const clip& c) {
  return read_tap_times(dir.file("tap.raw"), c);
}

struct plugin_facts {
  std::string name;  // from the description
  std::vector<std::string> param_names;
  std::vector<int> param_types;
  int color_model;
};

const plugin_facts& facts(const std::string& file_name) {
  static std::map<std::string, plugin_facts> cache;
  auto found = cache.find(file_name);
  if (found != cache.end()) return found->second;
  // The frame tap is no plug-in of ours: it lives beside them.
  testhost::plugin p(file_name == "frame_tap" ? std::string(PROBE_DIR) + "/frame_tap.so"
                                              : testhost::plugin_path(file_name));
  plugin_facts f;
  f.name = p.info().name;
  f.color_model = p.info().color_model;
  for (int i = 0; i < p.info().num_params; ++i) {
    f.param_names.push_back(p.param_info(i).name);
    f.param_types.push_back(p.param_info(i).type);
  }
  return cache[file_name] = f;
}

bool is_bool(const filter_spec& f, size_t i) {
  return facts(f.plugin).param_types.at(i) == F0R_PARAM_BOOL;
}

// Source clip as raw RGBA frames and, for melt, the same in a QuickTime file.
void make_source(const scratch_dir& dir, const clip& c) {
  const std::string src = "testsrc2=size=" + std::to_string(c.width) + "x" +
                          std::to_string(c.height) + ":rate=" + std::to_string(c.rate);
  run("ffmpeg -nostdin -y -f lavfi -i " + quote(src) + " -frames:v " + std::to_string(c.frames) +
          " -pix_fmt rgba -f rawvideo " + quote(dir.file("src.raw")) + " -frames:v " +
          std::to_string(c.frames) + " -pix_fmt rgba -c:v rawvideo " + quote(dir.file("src.mov")),
      dir);
}

// ---- ffmpeg

std::string ffmpeg_params(const filter_spec& f, const std::vector<double>& v) {
  std::string s;
  for (size_t i = 0; i < v.size(); ++i) {
    if (i) s += "|";
    s += is_bool(f, i) ? (v[i] >= 0.5 ? "y" : "n") : number(v[i]);
  }
  return s;
}

// Each filter is named after its plug-in, so that sendcmd can address it;
// a change becomes a command half a frame before the frame it applies to.
std::string ffmpeg_graph(const std::vector<filter_spec>& chain, const clip& c) {
  std::string commands, filters;
  for (const filter_spec& f : chain) {
    std::vector<double> values = f.params;
    std::vector<filter_spec::change> changes = f.changes;
    std::stable_sort(changes.begin(), changes.end(),
                     [](const auto& a, const auto& b) { return a.frame < b.frame; });
    for (const auto& ch : changes) {
      values.at(ch.index) = ch.value;
      commands += (commands.empty() ? "" : ";") + number((ch.frame - 0.5) / c.rate) + " frei0r@" +
                  f.plugin + " filter_params " + ffmpeg_params(f, values);
    }
    if (!filters.empty()) filters += ",";
    filters += "frei0r@" + f.plugin + "=filter_name=" + f.plugin;
    if (!f.params.empty()) filters += ":filter_params=" + ffmpeg_params(f, f.params);
  }
  return commands.empty() ? filters : "sendcmd=c='" + commands + "'," + filters;
}

// ---- melt

std::string melt_profile(const scratch_dir& dir, const clip& c) {
  const std::string file = dir.file("profile");
  std::ofstream out(file);
  out << "description=test\nwidth=" << c.width << "\nheight=" << c.height
      << "\nframe_rate_num=" << c.rate << "\nframe_rate_den=1\nprogressive=1\n"
      << "sample_aspect_num=1\nsample_aspect_den=1\ndisplay_aspect_num=" << c.width
      << "\ndisplay_aspect_den=" << c.height << "\ncolorspace=709\n";
  return file;
}

std::string melt_value(const filter_spec& f, size_t i) {
  std::vector<std::pair<int, double>> keys{{0, f.params[i]}};
  for (const auto& ch : f.changes)
    if (size_t(ch.index) == i) keys.emplace_back(ch.frame, ch.value);
  if (keys.size() == 1) return number(f.params[i]);
  // Discrete keyframes: the value holds until the next key.
  std::string s;
  for (const auto& [frame, value] : keys) {
    if (!s.empty()) s += ";";
    s += std::to_string(frame) + "|=" + number(value);
  }
  return s;
}

// `threads` above 1 renders in parallel: consumer real_time = -threads, what
// Kdenlive and Shotcut call parallel processing.
std::string melt_command(const scratch_dir& dir, const clip& c,
                         const std::vector<filter_spec>& chain, const std::string& out,
                         int threads = 1) {
  std::string cmd =
      "melt " + quote(dir.file("src.mov")) + " -profile " + quote(melt_profile(dir, c));
  for (const filter_spec& f : chain) {
    cmd += " -filter frei0r." + f.plugin;
    for (size_t i = 0; i < f.params.size(); ++i)
      cmd += " " + quote(std::to_string(i) + "=" + melt_value(f, i));
  }
  return cmd + " -consumer " + quote("avformat:" + out) +
         " f=rawvideo vcodec=rawvideo pix_fmt=rgba an=1 real_time=" +
         std::to_string(threads > 1 ? -threads : 0);
}

// ---- GStreamer

std::string gst_value(const filter_spec& f, size_t i, double v) {
  return is_bool(f, i) ? (v >= 0.5 ? "true" : "false") : number(v);
}

// gst-launch-1.0 itself cannot change a property while playing: a pipeline
// with changes runs under gst_change, which sets them from a pad probe just
// before the element receives the frame.
std::string gst_pipeline(const scratch_dir& dir, const clip& c,
                         const std::vector<filter_spec>& chain, const std::string& format) {
  // The description is parsed by GStreamer, which takes quotes literally;
  // the scratch paths need none.
  std::string p = "filesrc location=" + dir.file("src.raw") +
                  " ! rawvideoparse width=" + std::to_string(c.width) +
                  " height=" + std::to_string(c.height) +
                  " format=rgba framerate=" + std::to_string(c.rate) +
                  "/1 ! videoconvert ! video/x-raw,format=" + format +
                  " ! tee name=t ! queue ! filesink location=" + dir.file("in.raw") + " t. ! queue";
  std::string changes;
  for (size_t k = 0; k < chain.size(); ++k) {
    const filter_spec& f = chain[k];
    const plugin_facts& pf = facts(f.plugin);
    // videoconvert is a no-op between filters of one colour model and a
    // byte swizzle between RGBA and BGRA ones.
    p += " ! videoconvert ! frei0r-filter-" + gstreamer_name(pf.name) + " name=fx" +
         std::to_string(k);
    for (size_t i = 0; i < f.params.size(); ++i)
      p += " " + gstreamer_name(pf.param_names[i]) + "=" + gst_value(f, i, f.params[i]);
    if (f.changes.empty()) continue;
    if (!changes.empty()) throw std::invalid_argument("changes on more than one GStreamer element");
    changes = " fx" + std::to_string(k);
    for (const auto& ch : f.changes)
      changes += " " + gstreamer_name(pf.param_names.at(ch.index)) + " " +
                 gst_value(f, ch.index, ch.value) + " " + std::to_string(ch.frame);
  }
  p += " ! videoconvert ! video/x-raw,format=" + format +
       " ! filesink location=" + dir.file("out.raw");
  if (changes.empty()) return "gst-launch-1.0 -q " + p;
#ifdef GST_CHANGE_PATH
  return std::string(GST_CHANGE_PATH) + " " + quote(p) + changes;
#else
  throw std::invalid_argument("built without gst_change");
#endif
}

// Runs r.command, a melt command line whose chain starts with the frame
// tap, and reads its output, input and times.
void melt_render(const scratch_dir& dir, const clip& c, host_run& r) {
  for (int attempt = 0; r.output.empty(); ++attempt) {
    std::remove(dir.file("tap.raw").c_str());
    try {
      // A melt still running after a minute has hung (about once a suite
      // run on a loaded machine, with 7.12, 7.30 and 7.42 alike: until
      // the 300 s limit) and is started again; a sound one takes seconds.
      run(tap_prefix(dir) + r.command, dir, 60);
      r.output = read_raw(dir.file("out.raw"), c);
    } catch (const std::runtime_error&) {
      if (attempt == 4) throw;
    }
    if (attempt == 4) break;
  }
  read_tap(dir.file("tap.raw"), c, r.input, r.times, &r.instances);
}

}  // namespace

std::vector<double> read_tap_times(const std::string& file, const clip& c) {
  std::vector<testhost::frame> frames;
  std::vector<double> times;
  read_tap(file, c, frames, times);
  return times;
}

bool ffmpeg_available() {
  return std::system(
             "ffmpeg -hide_banner -filters 2>/dev/null | "
             "grep -q ' frei0r '") == 0;
}

version ffmpeg_version() {
  static const version v = [] {
    version found{0, 0};
    std::unique_ptr<FILE, int (*)(FILE*)> p(popen("ffmpeg -version 2>/dev/null", "r"), pclose);
    char line[512];
    if (p && std::fgets(line, sizeof line, p.get())) {
      // "ffmpeg version 5.1.9-0+deb12u1 …", "ffmpeg version n7.1 …"
      const char* at = std::strstr(line, "version ");
      if (at) {
        at += 8;
        while (*at && !std::isdigit(static_cast<unsigned char>(*at))) ++at;
        if (std::sscanf(at, "%d.%d", &found.major, &found.minor) < 1) found = {0, 0};
      }
    }
    return found;
  }();
  return v;
}

const ffmpeg_habit ffmpeg_5_1{"5.1", 1e-3, false, false, 0};
const ffmpeg_habit ffmpeg_7_1{"7.1", 1e-3, false, true, 0};
const ffmpeg_habit ffmpeg_9_0{"9.0", 1.0, true, true, 1};

const ffmpeg_habit& expected_ffmpeg_habit(version v, const std::vector<double>& times,
                                          const clip& c) {
  if (v.major <= 5) return ffmpeg_5_1;
  if (v.major <= 7) return ffmpeg_7_1;
  if (v.major >= 9) return ffmpeg_9_0;
  return times.size() > 1 && times[1] == 1.0 / c.rate ? ffmpeg_9_0 : ffmpeg_7_1;
}

namespace {

// Swaps red and blue: ffmpeg's exact conversion between rgba and bgra.
testhost::frame swap_red_blue(const testhost::frame& f) {
  testhost::frame s(f.size());
  for (size_t i = 0; i < f.size(); ++i) {
    const uint32_t p = f[i];
    s[i] = testhost::pixel(testhost::byte_of(p, 2), testhost::byte_of(p, 1),
                           testhost::byte_of(p, 0), testhost::byte_of(p, 3));
  }
  return s;
}

}  // namespace

rendering run_ffmpeg(const std::string& filter, const clip& c, const std::string& around) {
  scratch_dir dir;
  std::string chain = around;
  const size_t hole = chain.find("{}");
  if (hole == std::string::npos) throw std::invalid_argument("no {} in " + around);
  chain.replace(hole, 2, "frei0r=filter_name=frame_tap," + filter);
  const std::string source = "testsrc2=size=" + std::to_string(c.width) + "x" +
                             std::to_string(c.height) + ":rate=" + std::to_string(c.rate);
  // The source is converted once, then split: what the filter receives and
  // what is dumped as its input are the same frames. The frame tap in front
  // of the filter records each update's time and frame.
  const std::string graph = "[0:v]format=" + c.pix_fmt + ",split[in][fx];[fx]" + chain +
                            ",format=" + c.pix_fmt + "[out]";
  const std::string frames =
      " -frames:v " + std::to_string(c.frames) + " -f rawvideo -pix_fmt " + c.pix_fmt + " ";
  run(tap_prefix(dir) + "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i " +
          quote(source) + " -filter_complex " + quote(graph) + " -map '[in]'" + frames +
          quote(dir.file("in.raw")) + " -map '[out]'" + frames + quote(dir.file("out.raw")),
      dir);
  rendering r;
  r.input = read_raw(dir.file("in.raw"), c);
  r.output = read_raw(dir.file("out.raw"), c);
  read_tap(dir.file("tap.raw"), c, r.updates, r.times);
  // The tap sees rgba.
  if (c.pix_fmt == "bgra")
    for (testhost::frame& f : r.updates) f = swap_red_blue(f);
  return r;
}

bool updates_are_the_frames(const rendering& r) {
  return r.updates.size() >= r.input.size() &&
         std::equal(r.input.begin(), r.input.end(), r.updates.begin());
}

std::vector<testhost::frame> replay(const std::string& plugin_name,
                                    const std::vector<double>& params,
                                    const std::vector<testhost::frame>& input,
                                    const std::vector<double>& times, const clip& c) {
  return replay_chain({filter_spec{plugin_name, params, {}}}, input, times, c);
}

size_t expected_updates(host h, const host_run& r, const clip& c) {
  if (h != host::ffmpeg) return size_t(c.frames);
  return size_t(c.frames) + expected_ffmpeg_habit(ffmpeg_version(), r.times, c).extra_updates;
}

const char* host_name(host h) {
  switch (h) {
    case host::ffmpeg:
      return "ffmpeg";
    case host::melt:
      return "melt";
    case host::gstreamer:
      return "gstreamer";
  }
  return "?";
}

bool host_available(host h) {
  switch (h) {
    case host::ffmpeg:
      return ffmpeg_available();
    case host::melt:
      return std::system("command -v melt >/dev/null 2>&1") == 0;
    case host::gstreamer:
      return std::system(
                 "command -v gst-launch-1.0 >/dev/null 2>&1 && "
                 "gst-inspect-1.0 rawvideoparse >/dev/null 2>&1") == 0;
  }
  return false;
}

bool host_can_change_parameters(host h) {
#ifdef GST_CHANGE_PATH
  return host_available(h);
#else
  return h != host::gstreamer && host_available(h);
#endif
}

std::string gstreamer_name(const std::string& text) {
  std::string s;
  for (char c : text)
    s += std::isalnum(static_cast<unsigned char>(c))
             ? char(std::tolower(static_cast<unsigned char>(c)))
             : '-';
  return s;
}

host_run run_melt(const std::vector<filter_spec>& chain, const clip& c, int threads) {
  scratch_dir dir;
  host_run r;
  make_source(dir, c);
  // melt's input and times come from a frame tap in front of the chain,
  // in the same run. On a loaded machine melt 7.12 now and then renders
  // nothing, exiting with or without an error (with or without a filter
  // of ours); such a run is made again, up to five times.
  std::vector<filter_spec> tapped{filter_spec{"frame_tap", {}, {}}};
  tapped.insert(tapped.end(), chain.begin(), chain.end());
  r.command = melt_command(dir, c, tapped, dir.file("out.raw"), threads);
  melt_render(dir, c, r);
  return r;
}

host_run run_in_host(host h, const std::vector<filter_spec>& chain, const clip& c) {
  const bool bgra = facts(chain.at(0).plugin).color_model == F0R_COLOR_MODEL_BGRA8888;
  scratch_dir dir;
  host_run r;
  switch (h) {
    case host::ffmpeg: {
      clip fc = c;
      fc.pix_fmt = bgra ? "bgra" : "rgba";
      const std::string graph = ffmpeg_graph(chain, c);
      const rendering out = run_ffmpeg(graph, fc);
      if (!updates_are_the_frames(out))
        throw std::runtime_error("ffmpeg handed the filter other frames than it wrote");
      r.input = out.input;
      r.output = out.output;
      r.times = out.times;
      r.command = "ffmpeg -vf " + graph;
      break;
    }
    case host::melt:
      r = run_melt(chain, c, 1);
      break;
    case host::gstreamer: {
      make_source(dir, c);
      run(tap_prefix(dir) + gst_pipeline(dir, c, {filter_spec{"frame_tap", {}, {}}}, "RGBA"), dir);
      r.times = tap_times(dir, c);
      r.command = gst_pipeline(dir, c, chain, bgra ? "BGRA" : "RGBA");
      run(r.command, dir);
      r.input = read_raw(dir.file("in.raw"), c);
      r.output = read_raw(dir.file("out.raw"), c);
      break;
    }
  }
  return r;
}

std::vector<testhost::frame> replay_chain(const std::vector<filter_spec>& chain,
                                          const std::vector<testhost::frame>& input,
                                          const std::vector<double>& times, const clip& c) {
  std::vector<std::unique_ptr<testhost::plugin>> plugins;
  std::vector<testhost::instance> instances;
  for (const filter_spec& f : chain) {
    plugins.push_back(std::make_unique<testhost::plugin>(testhost::plugin_path(f.plugin)));
    plugins.back()->f0r().init();
    instances.push_back(plugins.back()->construct(c.width, c.height));
    if (!instances.back().valid()) throw std::runtime_error("construct failed");
    for (size_t i = 0; i < f.params.size(); ++i) instances.back().set(int(i), f.params[i]);
  }
  std::vector<testhost::frame> out;
  for (size_t n = 0; n < input.size(); ++n) {
    testhost::frame f = input[n];
    for (size_t k = 0; k < chain.size(); ++k) {
      for (const auto& ch : chain[k].changes)
        if (size_t(ch.frame) == n) instances[k].set(ch.index, ch.value);
      f = instances[k].update(times.at(n), f);
    }
    out.push_back(std::move(f));
  }
  return out;
}

host_run run_melt_project(const std::string& filters, const clip& c) {
  scratch_dir dir;
  make_source(dir, c);
  host_run r;
  const std::string project = dir.file("project.mlt");
  std::ofstream(project) << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                         << "<mlt LC_NUMERIC=\"C\" producer=\"clip\">\n"
                         << "  <producer id=\"clip\" in=\"0\" out=\"" << c.frames - 1 << "\">\n"
                         << "    <property name=\"resource\">" << dir.file("src.mov")
                         << "</property>\n"
                         << "    <filter id=\"tap\">\n"
                         << "      <property name=\"mlt_service\">frei0r.frame_tap</property>\n"
                         << "    </filter>\n"
                         << filters << "  </producer>\n</mlt>\n";
  r.command = "melt " + quote(project) + " -profile " + quote(melt_profile(dir, c)) +
              " -consumer " + quote("avformat:" + dir.file("out.raw")) +
              " f=rawvideo vcodec=rawvideo pix_fmt=rgba an=1 real_time=0";
  melt_render(dir, c, r);
  return r;
}

}  // namespace hosttest
