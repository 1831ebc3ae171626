#include "ffmpeg_run.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>

#ifndef HOST_ENVIRONMENT
#define HOST_ENVIRONMENT ""
#endif

namespace hosttest {

namespace {

std::string shell_quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'')
      q += "'\\''";
    else
      q += c;
  }
  return q + "'";
}

struct temp_dir {
  temp_dir() {
    char name[] = "/tmp/effects-ffmpeg-XXXXXX";
    if (!mkdtemp(name)) throw std::runtime_error("mkdtemp failed");
    path = name;
  }
  ~temp_dir() { std::system(("rm -rf " + shell_quote(path)).c_str()); }
  std::string path;
};

std::vector<testhost::frame> read_frames(const std::string& file,
                                         const clip& c) {
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

}  // namespace

bool ffmpeg_available() {
  return std::system("ffmpeg -hide_banner -filters 2>/dev/null | "
                     "grep -q ' frei0r '") == 0;
}

rendering run_ffmpeg(const std::string& filter, const clip& c) {
  temp_dir dir;
  const std::string in_file = dir.path + "/in.raw";
  const std::string out_file = dir.path + "/out.raw";
  const std::string source = "testsrc2=size=" + std::to_string(c.width) + "x" +
                             std::to_string(c.height) +
                             ":rate=" + std::to_string(c.rate);
  // The source is converted once, then split: what the filter receives and
  // what is dumped as its input are the same frames.
  const std::string graph = "[0:v]format=" + c.pix_fmt + ",split[in][fx];[fx]" +
                            filter + ",format=" + c.pix_fmt + "[out]";
  const std::string cmd =
      HOST_ENVIRONMENT "FREI0R_PATH=" + shell_quote(std::string(EFFECTS_PLUGIN_DIR) + ":" +
                                   TIME_PROBE_DIR) +
      " timeout 300 ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i " +
      shell_quote(source) + " -filter_complex " + shell_quote(graph) +
      " -map '[in]' -frames:v " + std::to_string(c.frames) +
      " -f rawvideo -pix_fmt " + c.pix_fmt + " " + shell_quote(in_file) +
      " -map '[out]' -frames:v " + std::to_string(c.frames) +
      " -f rawvideo -pix_fmt " + c.pix_fmt + " " + shell_quote(out_file) +
      " 2>" + shell_quote(dir.path + "/log");
  if (std::system(cmd.c_str()) != 0) {
    std::ifstream log(dir.path + "/log");
    std::string text((std::istreambuf_iterator<char>(log)),
                     std::istreambuf_iterator<char>());
    throw std::runtime_error("ffmpeg failed: " + cmd + "\n" + text);
  }
  rendering r;
  r.input = read_frames(in_file, c);
  r.output = read_frames(out_file, c);
  return r;
}

std::vector<double> ffmpeg_times(const clip& c) {
  clip probe = c;
  probe.pix_fmt = "rgba";
  const rendering r = run_ffmpeg("frei0r=filter_name=time_probe", probe);
  std::vector<double> times;
  for (const testhost::frame& f : r.output) {
    double t;
    std::memcpy(&t, f.data(), sizeof t);
    times.push_back(t);
  }
  return times;
}

std::vector<testhost::frame> replay(const std::string& plugin_name,
                                    const std::vector<double>& params,
                                    const std::vector<testhost::frame>& input,
                                    const std::vector<double>& times,
                                    const clip& c) {
  testhost::plugin p(testhost::plugin_path(plugin_name));
  p.f0r().init();
  testhost::instance inst = p.construct(c.width, c.height);
  if (!inst.valid()) throw std::runtime_error("construct failed");
  for (size_t i = 0; i < params.size(); ++i) inst.set(int(i), params[i]);
  std::vector<testhost::frame> out;
  for (size_t f = 0; f < input.size(); ++f)
    out.push_back(inst.update(times.at(f), input[f]));
  return out;
}

}  // namespace hosttest
