// Every plug-in in every real host: ffmpeg, MLT's melt and GStreamer must
// produce, byte for byte, what the test host produces from the same input
// frames and times.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <tuple>

#include "hosts.h"

namespace {

using hosttest::clip;
using hosttest::filter_spec;
using hosttest::host;

// Values every host transmits exactly (short binary fractions inside
// GStreamer's 0..1 property range), different per parameter. The three sets
// between them reach every mode of the effects whose Mode is a double
// (kestrune's three, bramquil's Scan and Stargate).
filter_spec non_default(const std::string& plugin, int set, bool booleans_on) {
  static const double doubles[3][7] = {{0.375, 0.625, 0.25, 0.75, 0.5625, 0.4375, 0.875},
                                       {0.625, 0.875, 0.75, 0.25, 0.4375, 0.5625, 0.375},
                                       {0.125, 0.25, 0.625, 0.5, 0.3125, 0.75, 0.5}};
  testhost::plugin p(testhost::plugin_path(plugin));
  filter_spec f{plugin, {}, {}};
  for (int i = 0; i < p.info().num_params; ++i)
    f.params.push_back(p.param_info(i).type == F0R_PARAM_BOOL ? (booleans_on ? 1.0 : 0.0)
                                                              : doubles[set][i % 7]);
  return f;
}

std::string plugin_of(const std::string& path) {
  std::string name = path.substr(path.find_last_of('/') + 1);
  return name.substr(0, name.size() - 3);
}

void expect_exact(host h, const std::vector<filter_spec>& chain, const clip& c) {
  const hosttest::host_run r = hosttest::run_in_host(h, chain, c);
  ASSERT_EQ(r.input.size(), size_t(c.frames)) << r.command;
  ASSERT_EQ(r.output.size(), size_t(c.frames)) << r.command;
  ASSERT_EQ(r.times.size(), hosttest::expected_updates(h, r, c)) << r.command;
  const auto expected = hosttest::replay_chain(chain, r.input, r.times, c);
  for (int n = 0; n < c.frames; ++n)
    ASSERT_TRUE(r.output[n] == expected[n])
        << hosttest::host_name(h) << " frame " << n << " differs: " << r.command;
}

class in_host : public testing::TestWithParam<std::tuple<std::string, host>> {
 protected:
  void SetUp() override {
    if (!hosttest::host_available(std::get<1>(GetParam())))
      GTEST_SKIP() << hosttest::host_name(std::get<1>(GetParam())) << " is not installed";
  }
};

TEST_P(in_host, renders_exactly_what_the_test_host_renders) {
  const std::string plugin = plugin_of(std::get<0>(GetParam()));
  clip c;
  c.frames = 60;
  for (int set = 0; set < 3; ++set)
    expect_exact(std::get<1>(GetParam()), {non_default(plugin, set, set != 1)}, c);
}

INSTANTIATE_TEST_SUITE_P(all, in_host,
                         testing::Combine(testing::ValuesIn(testhost::all_plugin_paths()),
                                          testing::Values(host::ffmpeg, host::melt,
                                                          host::gstreamer)),
                         [](const auto& param_info) {
                           return plugin_of(std::get<0>(param_info.param)) + "_" +
                                  hosttest::host_name(std::get<1>(param_info.param));
                         });

// MLT's parallel rendering (consumer real_time below -1, Kdenlive's and
// Shotcut's "parallel processing") keeps one instance of each filter per
// render thread, and each instance sees only some of the frames. Every
// plug-in must come through it (in the sanitizer build melt loads the
// instrumented plug-ins), and each output frame must be exactly what a
// separate instance gives over the frames that its instance was handed, in
// that order: no instance reaches into another's state. For the effects that
// keep state from frame to frame that is another picture than the serial
// rendering's, as the README says; for Orrelind it is the same.
class melt_parallel : public testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    if (!hosttest::host_available(host::melt)) GTEST_SKIP() << "melt is not installed";
  }
};

TEST_P(melt_parallel, each_instance_renders_only_its_own_frames) {
  const std::string plugin = plugin_of(GetParam());
  const filter_spec f = non_default(plugin, 0, true);
  clip c;
  c.frames = 60;
  const hosttest::host_run r = hosttest::run_melt({f}, c, 3);
  ASSERT_EQ(r.output.size(), size_t(c.frames)) << r.command;
  ASSERT_EQ(r.instances.size(), r.input.size()) << r.command;

  // The tap in front has one instance per thread as well: its instance k
  // and the effect's share a thread, so they see the same frames in the
  // same order. melt renders the last frame again a few times at the end
  // (with the same time), on any thread: any of those renders may be the
  // one written out.
  testhost::plugin p(GetParam());
  std::map<uint32_t, testhost::instance> replayed;
  std::map<uint32_t, double> last_time;
  std::vector<std::vector<testhost::frame>> candidates(c.frames);
  std::vector<testhost::frame> serial_input(c.frames);
  std::vector<double> serial_times(c.frames);
  int backwards = 0;
  for (size_t k = 0; k < r.input.size(); ++k) {
    const uint32_t serial = r.instances[k];
    auto found = replayed.find(serial);
    if (found == replayed.end()) {
      found = replayed.emplace(serial, p.construct(c.width, c.height)).first;
      ASSERT_TRUE(found->second.valid());
      for (size_t i = 0; i < f.params.size(); ++i) found->second.set(int(i), f.params[i]);
    } else if (r.times[k] < last_time[serial]) {
      ++backwards;
    }
    last_time[serial] = r.times[k];
    const long n = std::lround(r.times[k] * c.rate);
    ASSERT_TRUE(n >= 0 && n < c.frames) << r.times[k];
    candidates[n].push_back(found->second.update(r.times[k], r.input[k]));
    serial_input[n] = r.input[k];
    serial_times[n] = r.times[k];
  }
  EXPECT_GE(replayed.size(), 2u) << "melt rendered on one instance: " << r.command;
  for (int n = 0; n < c.frames; ++n) {
    ASSERT_FALSE(candidates[n].empty()) << "frame " << n << " never reached the filter";
    const auto& options = candidates[n];
    EXPECT_TRUE(std::find(options.begin(), options.end(), r.output[n]) != options.end())
        << "frame " << n << " is none of its " << options.size() << " renders: " << r.command;
  }
  const bool same_as_serial =
      r.output == hosttest::replay_chain({f}, serial_input, serial_times, c);
  std::printf("%s: %zu instances, %zu updates, %d to an earlier time; %s the serial rendering\n",
              plugin.c_str(), replayed.size(), r.input.size(), backwards,
              same_as_serial ? "same as" : "differs from");
}

INSTANTIATE_TEST_SUITE_P(all, melt_parallel, testing::ValuesIn(testhost::all_plugin_paths()),
                         [](const auto& param_info) { return plugin_of(param_info.param); });

class each_host : public testing::TestWithParam<host> {
 protected:
  void SetUp() override {
    if (!hosttest::host_available(GetParam()))
      GTEST_SKIP() << hosttest::host_name(GetParam()) << " is not installed";
  }
};

// Two different plug-ins of ours in one host process, one after the other
// in one graph: neither may bind to the other's symbols. Orrelind treats its
// three colour bytes alike, so the hosts' RGBA/BGRA swizzles around it do
// not change the bytes a replay in one colour model gives.
TEST_P(each_host, two_plugins_in_one_graph) {
  std::vector<filter_spec> chain;
  for (const char* name : {"vestrale", "kestrune", "bramquil", "Orrelind"}) {
    try {
      testhost::plugin_path(name);
    } catch (const std::exception&) {
      continue;
    }
    chain.push_back(non_default(name, 1, false));
    if (chain.size() == 2) break;
  }
  if (chain.size() < 2) GTEST_SKIP() << "fewer than two RGBA plug-ins built";
  clip c;
  c.frames = 40;
  expect_exact(GetParam(), chain, c);
}

// A parameter that changes during the clip: ffmpeg by sendcmd, melt by a
// discrete keyframe, GStreamer by a property set while playing.
TEST_P(each_host, parameter_change_during_the_clip) {
  if (!hosttest::host_can_change_parameters(GetParam()))
    GTEST_SKIP() << "built without a way to change GStreamer properties";
  filter_spec f{"vestrale", {0.125, 0.0}, {{30, 0, 0.5}, {45, 1, 1.0}}};
  clip c;
  c.frames = 60;
  expect_exact(GetParam(), {f}, c);
}

INSTANTIATE_TEST_SUITE_P(all, each_host, testing::Values(host::ffmpeg, host::melt, host::gstreamer),
                         [](const auto& param_info) {
                           return std::string(hosttest::host_name(param_info.param));
                         });

}  // namespace
