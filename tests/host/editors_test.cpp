// Projects as Kdenlive and Shotcut save them, rendered by melt: the values a
// control in working units stands for (by the mapping its descriptor states)
// must give the test host's bytes. And kestrune in ffmpeg with its time in
// seconds, by each version's recipe.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "hosts.h"

namespace {

using hosttest::clip;
using hosttest::filter_spec;

std::string read_text(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Attribute `key` of the <parameter> named `name` in a Kdenlive descriptor.
std::string attribute(const std::string& xml, const std::string& name, const std::string& key,
                      const std::string& fallback = "") {
  const size_t at = xml.find("name=\"" + name + "\"");
  if (at == std::string::npos) throw std::runtime_error("no parameter " + name);
  const size_t open = xml.rfind("<parameter", at);
  const std::string tag = xml.substr(open, xml.find('>', at) - open);
  const size_t k = tag.find(" " + key + "=\"");
  if (k == std::string::npos) return fallback;
  const size_t v = k + key.size() + 3;
  return tag.substr(v, tag.find('"', v) - v);
}

// What a Kdenlive control set to `display` stores: display / factor
// (Kdenlive 22.12 has no offset).
double kdenlive_value(const std::string& xml, const std::string& name, double display) {
  return display / std::stod(attribute(xml, name, "factor", "1"));
}

// The value of item `index` of a Kdenlive list, as the text it stores.
std::string kdenlive_item(const std::string& xml, const std::string& name, int index) {
  std::istringstream list(attribute(xml, name, "paramlist"));
  std::string item;
  for (int i = 0; i <= index; ++i) std::getline(list, item, ';');
  return item;
}

struct setting {
  std::string property;  // parameter name (Kdenlive) or index (Shotcut)
  std::string text;      // as the project stores it
};

std::string filter_xml(const std::string& plugin, const std::vector<setting>& s,
                       const std::vector<std::string>& extra) {
  std::string x =
      "    <filter>\n      <property name=\"mlt_service\">frei0r." + plugin + "</property>\n";
  for (const std::string& e : extra) x += "      " + e + "\n";
  for (const setting& p : s)
    x += "      <property name=\"" + p.property + "\">" + p.text + "</property>\n";
  return x + "    </filter>\n";
}

// Renders the project over `frames` frames and demands the test host's
// bytes for `values` by index, with `changes` from their frames on.
// `run`, when given, receives the host's run.
void expect_project(const std::string& plugin, const std::string& filters,
                    const std::vector<double>& values,
                    const std::vector<filter_spec::change>& changes = {}, int frames = 40,
                    hosttest::host_run* run = nullptr) {
  clip c;
  c.frames = frames;
  const hosttest::host_run r = hosttest::run_melt_project(filters, c);
  if (run) *run = r;
  ASSERT_EQ(r.output.size(), size_t(c.frames)) << r.command;
  ASSERT_EQ(r.times.size(), size_t(c.frames)) << r.command;
  ASSERT_EQ(r.times[5], 0.2) << "melt passes seconds";
  const filter_spec f{plugin, values, changes};
  const auto expected = hosttest::replay_chain({f}, r.input, r.times, c);
  for (int n = 0; n < c.frames; ++n)
    ASSERT_TRUE(r.output[n] == expected[n]) << plugin << " frame " << n << ": " << filters;
  // The effect did something: not every frame came through unchanged.
  EXPECT_NE(r.output, r.input) << plugin;
}

class editor_project : public testing::Test {
 protected:
  void SetUp() override {
    if (!hosttest::host_available(hosttest::host::melt)) GTEST_SKIP() << "melt is not installed";
  }
  std::string descriptor(const std::string& plugin) {
    return read_text(std::string(EFFECTS_SOURCE_DIR) + "/editors/kdenlive/frei0r_" + plugin +
                     ".xml");
  }
};

// Kdenlive: parameters by name, in the descriptor's mapping, keyframes as
// Kdenlive writes them (times, "|=" for a discrete step).
TEST_F(editor_project, kdenlive_projects_by_name) {
  const std::string kdenlive_id = "<property name=\"kdenlive_id\">";
  {
    const std::string x = descriptor("Orrelind");
    // Whirl 0° (50 %) then 90° (56.25 %) from one second on; Pinch −0.25
    // (37.5 %), Radius 1.5, Centre 25 % / 62.5 %.
    ASSERT_EQ(kdenlive_value(x, "Whirl", 56.25), 0.5625);
    ASSERT_EQ(kdenlive_value(x, "Whirl", 50), 0.5);
    ASSERT_EQ(kdenlive_value(x, "Pinch", 37.5), 0.375);
    ASSERT_EQ(kdenlive_value(x, "Radius", 1.5), 0.75);
    ASSERT_EQ(kdenlive_value(x, "Center X", 25), 0.25);
    ASSERT_EQ(kdenlive_value(x, "Center Y", 62.5), 0.625);
    expect_project("Orrelind",
                   filter_xml("Orrelind",
                              {{"Whirl", "00:00:00.000|=0.5;00:00:01.000|=0.5625"},
                               {"Pinch", "0.375"},
                               {"Radius", "0.75"},
                               {"Center X", "0.25"},
                               {"Center Y", "0.625"}},
                              {kdenlive_id + "frei0r.Orrelind</property>"}),
                   {0.5, 0.375, 0.75, 0.25, 0.625}, {{25, 0, 0.5625}});
  }
  {
    const std::string x = descriptor("kestrune");
    // 0.5 s, absolute difference, blend 75 %, contrast 25 % (2×),
    // threshold 6.25 %, monochrome.
    ASSERT_EQ(kdenlive_value(x, "Time Offset", 0.5), 0.25);
    ASSERT_EQ(kdenlive_item(x, "Mode", 1), "0.5");
    ASSERT_EQ(kdenlive_value(x, "Blend", 75), 0.75);
    ASSERT_EQ(kdenlive_value(x, "Contrast", 25), 0.25);
    ASSERT_EQ(kdenlive_value(x, "Threshold", 6.25), 0.0625);
    expect_project("kestrune",
                   filter_xml("kestrune",
                              {{"Time Offset", "0.25"},
                               {"Mode", "0.5"},
                               {"Blend", "0.75"},
                               {"Contrast", "0.25"},
                               {"Threshold", "0.0625"},
                               {"Monochrome", "1"}},
                              {kdenlive_id + "frei0r.kestrune</property>"}),
                   {0.25, 0.5, 0.75, 0.25, 0.0625, 1});
  }
  {
    const std::string x = descriptor("bramquil");
    // Stargate, position 37.5 %, rows, 4 slits (the list's fourth item),
    // reverse, depth 50 %, fade 75 %.
    ASSERT_EQ(kdenlive_item(x, "Mode", 1), "1");
    ASSERT_EQ(kdenlive_value(x, "Position", 37.5), 0.375);
    const std::string width_text = kdenlive_item(x, "Width", 3);
    const double width = std::strtod(width_text.c_str(), nullptr);
    ASSERT_NEAR(width, 3.0 / 63, 1e-6);
    expect_project("bramquil",
                   filter_xml("bramquil",
                              {{"Mode", "1"},
                               {"Position", "0.375"},
                               {"Vertical", "0"},
                               {"Width", width_text},
                               {"Reverse", "1"},
                               {"Depth", "0.5"},
                               {"Fade", "0.75"}},
                              {kdenlive_id + "frei0r.bramquil</property>"}),
                   {1, 0.375, 0, width, 1, 0.5, 0.75});
  }
  {
    const std::string x = descriptor("vestrale");
    // Delay "3" is the list's third item, a little above 2/15.
    const std::string delay = kdenlive_item(x, "Delay", 2);
    ASSERT_NEAR(std::strtod(delay.c_str(), nullptr), 2.0 / 15, 1e-6);
    expect_project("vestrale",
                   filter_xml("vestrale", {{"Delay", delay}, {"Simple", "0"}},
                              {kdenlive_id + "frei0r.vestrale</property>"}),
                   {std::strtod(delay.c_str(), nullptr), 0});
  }
}

// Shotcut: parameters by index, whole frames (threads 1: MLT takes 0 as one
// slice per processor and would cut our frames into slices), doubles
// as MLT saves them (six digits), vestrale's Delay as the exact text the
// control stores.
TEST_F(editor_project, shotcut_projects_by_index) {
  const std::vector<std::string> extra = {"<property name=\"threads\">1</property>"};
  auto shotcut = [&](const std::string& plugin, const std::vector<std::string>& texts) {
    std::vector<setting> s;
    for (size_t i = 0; i < texts.size(); ++i) s.push_back({std::to_string(i), texts[i]});
    std::vector<std::string> e = extra;
    e.push_back("<property name=\"shotcut:filter\">" + plugin + "</property>");
    return filter_xml(plugin, s, e);
  };
  // Whirl −45° ((−45 + 720) / 1440 = 0.46875), keyframed to 180° (0.625).
  expect_project("Orrelind",
                 shotcut("Orrelind", {"00:00:00.000|=0.46875;00:00:01.000|=0.625", "0.625", "0.5",
                                      "0.5", "0.5"}),
                 {0.46875, 0.625, 0.5, 0.5, 0.5}, {{25, 0, 0.625}});
  expect_project("kestrune", shotcut("kestrune", {"0.1", "1", "0.5", "0.5", "0", "0"}),
                 {0.1, 1, 0.5, 0.5, 0, 0});
  // Width 10 slits: 9/63, saved as 0.142857, still 10 slits.
  expect_project("bramquil", shotcut("bramquil", {"0", "0.5", "1", "0.142857", "0", "0.25", "1"}),
                 {0, 0.5, 1, 0.142857, 0, 0.25, 1});
  expect_project("vestrale", shotcut("vestrale", {"0.13333333333333333", "0"}), {2.0 / 15, 0});
}

// ---- Presets

std::vector<std::string> lines_of(const std::string& path) {
  std::istringstream in(read_text(path));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The text between `open` and the next `close` after it in `line`, or "".
std::string between(const std::string& line, const std::string& open, const std::string& close) {
  const size_t a = line.find(open);
  if (a == std::string::npos) return "";
  const size_t b = line.find(close, a + open.size());
  return b == std::string::npos ? "" : line.substr(a + open.size(), b - a - open.size());
}

// What editordesc makes of docs/params/NAME.editors for the demo's gallery:
// a line of tab-separated fields for each preset and showcase, in order
// (kind, plug-in, gallery name, name, values).
std::vector<std::vector<std::string>> gallery_lines(const std::string& plugin) {
  const std::string command = std::string(EDITORDESC) + " --gallery " + EFFECTS_SOURCE_DIR +
                              "/docs/params " + testhost::plugin_path(plugin);
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) throw std::runtime_error("cannot run " + command);
  std::string text;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) text.append(buf, n);
  if (pclose(pipe) != 0) throw std::runtime_error(command + " failed");
  std::vector<std::vector<std::string>> out;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> f;
    std::istringstream fields(line);
    for (std::string field; std::getline(fields, field, '\t');) f.push_back(field);
    if (f.size() != 5 || f[1] != plugin) throw std::runtime_error("editordesc said: " + line);
    out.push_back(f);
  }
  return out;
}

// The gallery's presets: name and values as ffmpeg gets them
// (filter_params, y/n for booleans).
std::vector<std::pair<std::string, std::vector<double>>> gallery(const std::string& plugin) {
  std::vector<std::pair<std::string, std::vector<double>>> out;
  for (const auto& f : gallery_lines(plugin)) {
    if (f[0] != "preset") continue;
    std::vector<double> values;
    std::istringstream params(f[4]);
    for (std::string v; std::getline(params, v, '|');)
      values.push_back(v == "y" ? 1 : v == "n" ? 0 : std::stod(v));
    out.emplace_back(f[3], values);
  }
  return out;
}

// Kdenlive's presets file (as editordesc writes it, one key a line): each
// preset's settings by parameter name, keyframe strings without quotes.
std::map<std::string, std::vector<setting>> kdenlive_presets(const std::string& plugin) {
  std::map<std::string, std::vector<setting>> out;
  std::vector<setting>* current = nullptr;
  std::string name;
  for (const std::string& line : lines_of(std::string(EFFECTS_SOURCE_DIR) +
                                          "/editors/kdenlive/presets/frei0r." + plugin + ".json")) {
    if (line.size() > 11 && line.compare(line.size() - 3, 3, ": [") == 0)
      current = &out[between(line, "\"", "\":")];
    else if (line.find("\"name\": ") != std::string::npos)
      name = between(line, "\"name\": \"", "\"");
    else if (line.find("\"value\": ") != std::string::npos && current) {
      std::string value = line.substr(line.find(": ") + 2);
      if (value.front() == '"') value = value.substr(1, value.size() - 2);
      current->push_back({name, value});
    }
  }
  return out;
}

// The presets that Shotcut's ui.qml saves for a new filter: each preset's
// settings by index, as the text stored.
std::map<std::string, std::vector<setting>> shotcut_presets(const std::string& plugin) {
  std::map<std::string, std::vector<setting>> out;
  std::vector<setting> sets;
  for (const std::string& line :
       lines_of(std::string(EFFECTS_SOURCE_DIR) + "/editors/shotcut/" + plugin + "/ui.qml")) {
    if (line.find("filter.set('") != std::string::npos && std::isdigit(line[line.find("('") + 2])) {
      std::string value = between(line, "', ", ");");
      if (!value.empty() && value.front() == '"') value = value.substr(1, value.size() - 2);
      sets.push_back({between(line, "filter.set('", "'"), value});
    } else if (line.find("savePreset(preset.parameters, qsTr(") != std::string::npos) {
      out[between(line, "qsTr(\"", "\")")] = sets;
      sets.clear();
    } else if (line.find("savePreset") != std::string::npos) {
      break;
    }
  }
  return out;
}

class editor_presets : public editor_project, public testing::WithParamInterface<std::string> {};

// Every preset, as each editor stores it, rendered by melt gives the bytes
// that the gallery's values for it (what the demo hands ffmpeg, in the
// plug-in's own units) give in the test host: the presets look as the
// gallery shows them, Kdenlive's six-digit list items and the working
// units' conversions included. And the gallery looks the same in every
// ffmpeg: its values give the same bytes with the time in milliseconds
// (5.1 … 7.1) as in seconds (9.0), which a kestrune preset with a Time
// Offset other than 0 would not.
TEST_P(editor_presets, render_as_the_gallery_shows) {
  const std::string plugin = GetParam();
  const auto shown = gallery(plugin);
  const auto kdenlive = kdenlive_presets(plugin);
  const auto shotcut = shotcut_presets(plugin);
  ASSERT_FALSE(shown.empty()) << plugin << " has no presets";
  EXPECT_EQ(kdenlive.size(), shown.size()) << plugin;
  EXPECT_EQ(shotcut.size(), shown.size()) << plugin;
  for (const auto& [name, values] : shown) {
    SCOPED_TRACE(plugin + " preset " + name);
    ASSERT_TRUE(kdenlive.count(name) && shotcut.count(name));
    ASSERT_EQ(kdenlive.at(name).size(), values.size());
    ASSERT_EQ(shotcut.at(name).size(), values.size());
    hosttest::host_run r;
    expect_project(plugin,
                   filter_xml(plugin, kdenlive.at(name),
                              {"<property name=\"kdenlive_id\">frei0r." + plugin + "</property>"}),
                   values, {}, 20, &r);
    expect_project(plugin,
                   filter_xml(plugin, shotcut.at(name),
                              {"<property name=\"threads\">1</property>",
                               "<property name=\"shotcut:filter\">" + plugin + "</property>"}),
                   values, {}, 20);
    clip c;
    c.frames = 20;
    std::vector<double> in_ms = r.times;
    for (double& t : in_ms) t *= 1000;
    const filter_spec f{plugin, values, {}};
    EXPECT_EQ(hosttest::replay_chain({f}, r.input, in_ms, c),
              hosttest::replay_chain({f}, r.input, r.times, c))
        << "differs where ffmpeg passes milliseconds";
  }
}

INSTANTIATE_TEST_SUITE_P(each_plugin, editor_presets,
                         testing::Values("Orrelind", "kestrune", "bramquil", "vestrale"));

// The showcases, as the demo hands them to melt (INDEX=VALUE or
// INDEX=FRAME=VALUE;…), with every key held until the next ("|="): melt
// gives the test host's bytes for the keys' values from their frames on. So
// melt reads the keys at the frames and values that editordesc means; how
// it moves between them is MLT's own.
TEST_F(editor_project, showcases_give_melt_their_keys) {
  int showcases = 0;
  for (const char* plugin : {"Orrelind", "kestrune", "bramquil", "vestrale"}) {
    for (const auto& f : gallery_lines(plugin)) {
      if (f[0] != "showcase") continue;
      SCOPED_TRACE(std::string(plugin) + " showcase " + f[3]);
      ++showcases;
      std::vector<setting> held;
      std::vector<double> values;
      std::vector<filter_spec::change> changes;
      int last = 0;
      std::istringstream properties(f[4]);
      for (std::string property; properties >> property;) {
        const size_t eq = property.find('=');
        const int index = std::stoi(property.substr(0, eq));
        ASSERT_EQ(index, int(values.size())) << property;
        std::string text, keys = property.substr(eq + 1);
        std::istringstream each(keys);
        for (std::string k; std::getline(each, k, ';');) {
          const size_t at = k.find('=');
          if (at == std::string::npos) {  // one value for the whole clip
            values.push_back(std::stod(k));
            text = k;
            break;
          }
          const int frame = std::stoi(k.substr(0, k.find_first_of("|~=")));
          const double v = std::stod(k.substr(at + 1));
          if (frame == 0)
            values.push_back(v);
          else
            changes.push_back({frame, index, v});
          last = std::max(last, frame);
          text += (text.empty() ? "" : ";") + std::to_string(frame) + "|=" + k.substr(at + 1);
        }
        held.push_back({std::to_string(index), text});
      }
      ASSERT_FALSE(changes.empty()) << "a showcase without keys";
      expect_project(plugin,
                     filter_xml(plugin, held, {"<property name=\"threads\">1</property>"}),
                     values, changes, last + 1);
    }
  }
  EXPECT_GT(showcases, 0);
}

// Why vestrale's Delay is stored as text: 2/15 saved with six digits reads
// back as a delay of 2 frames, not 3.
TEST(editor_values, delay_needs_the_exact_value) {
  testhost::plugin p(testhost::plugin_path("vestrale"));
  testhost::instance inst = p.construct(8, 8);
  inst.set(0, std::strtod("0.13333333333333333", nullptr));
  EXPECT_EQ(inst.get(0), 2.0 / 15);  // delay 3
  inst.set(0, std::strtod("0.133333", nullptr));
  EXPECT_EQ(inst.get(0), 1.0 / 15);  // delay 2
  // Every step of the control survives as shortest text.
  for (int frames = 1; frames <= 16; ++frames) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", (frames - 1) / 15.0);
    inst.set(0, std::strtod(buf, nullptr));
    EXPECT_EQ(inst.get(0), (frames - 1) / 15.0) << frames;
  }
}

// Kdenlive saves a value with six significant digits and finds a list item
// by its text on loading: each item of our whole-number lists must be
// six-digit text and give the plug-in exactly the step its label names.
TEST(editor_values, kdenlive_list_items_survive_its_save) {
  const std::string dir = std::string(EFFECTS_SOURCE_DIR) + "/editors/kdenlive/";
  auto items = [&](const std::string& plugin, const std::string& name) {
    std::vector<std::string> out;
    std::istringstream list(
        attribute(read_text(dir + "frei0r_" + plugin + ".xml"), name, "paramlist"));
    for (std::string item; std::getline(list, item, ';');) {
      char saved[40];
      std::snprintf(saved, sizeof saved, "%g", std::strtod(item.c_str(), nullptr));
      EXPECT_EQ(item, saved) << plugin << " " << name << ": Kdenlive would save it so";
      out.push_back(item);
    }
    return out;
  };
  // vestrale reads its Delay back as (delay − 1) / 15.
  const auto delays = items("vestrale", "Delay");
  ASSERT_EQ(delays.size(), 16u);
  testhost::plugin v(testhost::plugin_path("vestrale"));
  testhost::instance vi = v.construct(8, 8);
  for (size_t i = 0; i < delays.size(); ++i) {
    vi.set(0, std::strtod(delays[i].c_str(), nullptr));
    EXPECT_EQ(vi.get(0), double(i) / 15) << "Delay " << i + 1 << ": " << delays[i];
  }
  // bramquil's Width: the item renders as the exact step i / 63 does.
  const auto widths = items("bramquil", "Width");
  ASSERT_EQ(widths.size(), 64u);
  testhost::plugin b(testhost::plugin_path("bramquil"));
  const unsigned w = 80, h = 6;
  for (size_t i = 0; i < widths.size(); ++i) {
    testhost::instance item = b.construct(w, h), exact = b.construct(w, h);
    item.set(3, std::strtod(widths[i].c_str(), nullptr));
    exact.set(3, double(i) / 63);
    for (int n = 0; n < 3; ++n) {
      const testhost::frame in = testhost::random_frame(w * h, 7 + n);
      ASSERT_EQ(item.update(n / 25.0, in), exact.update(n / 25.0, in))
          << "Width " << i + 1 << ": " << widths[i] << ", frame " << n;
    }
  }
}

// kestrune's Time Offset in seconds in ffmpeg, with each version's recipe as
// the README gives it: 5.1 and 7.1 pass milliseconds, and with the time base
// turned into microseconds around the filter the plug-in receives seconds;
// 9.0 passes seconds itself, and that chain would hand it thousandths of
// them. The recipe of this version must give seconds, the test host's bytes
// and a real delay; the other's must not give seconds.
TEST(kestrune_in_ffmpeg_seconds, time_offset_delays_with_this_versions_recipe) {
  if (!hosttest::ffmpeg_available()) GTEST_SKIP() << "no ffmpeg with frei0r";
  const struct {
    double unit;  // of the versions it is for
    const char* around;
  } recipes[] = {{1e-3, "settb=AVTB,setpts=PTS/1000,{},setpts=PTS*1000"}, {1.0, "{}"}};
  clip c;  // 320 wide: ffmpeg 5.1 … 7.1 keep the time only for widths of a multiple of 64
  c.frames = 30;
  // Time Offset 0.25, half a second back, in the absolute difference mode.
  const std::string effect = "frei0r=filter_name=kestrune:filter_params=0.25|0.5";
  const std::vector<double> values{0.25, 0.5};
  const hosttest::version v = hosttest::ffmpeg_version();
  const std::vector<double> plain_times = hosttest::run_ffmpeg(effect, c).times;
  const auto& habit = hosttest::expected_ffmpeg_habit(v, plain_times, c);
  const std::string readme = read_text(std::string(EFFECTS_SOURCE_DIR) + "/README.md");
  for (const auto& recipe : recipes) {
    std::string command = recipe.around;
    command.replace(command.find("{}"), 2, effect);
    EXPECT_NE(readme.find("-vf \"" + command + "\""), std::string::npos)
        << "the README gives no " << command;
    const auto r = hosttest::run_ffmpeg(effect, c, recipe.around);
    ASSERT_EQ(r.output.size(), size_t(c.frames)) << command;
    ASSERT_EQ(r.times.size(), size_t(c.frames + habit.extra_updates)) << command;
    if (recipe.unit != habit.unit) {
      EXPECT_GT(std::abs(r.times[1] - 1.0 / c.rate), 1e-6)
          << "ffmpeg " << v.major << "." << v.minor << " gives seconds with " << command;
      continue;
    }
    for (size_t n = 0; n < r.times.size(); ++n)
      ASSERT_NEAR(r.times[n], n / double(c.rate), 1e-9) << command << ": update " << n;
    EXPECT_EQ(hosttest::replay("kestrune", values, r.input, r.times, c), r.output) << command;
    // It really delays: neither the previous frame's difference nor two
    // seconds' (Time Offset 1)...
    for (double other : {0.0, 1.0}) {
      const std::vector<double> elsewhere{other, 0.5};
      EXPECT_NE(hosttest::replay("kestrune", elsewhere, r.input, r.times, c).back(),
                r.output.back())
          << command << " as Time Offset " << other;
    }
    // ...which are all that the same times in milliseconds would give.
    std::vector<double> same_in_ms = r.times;
    for (double& t : same_in_ms) t *= 1000;
    EXPECT_EQ(hosttest::replay("kestrune", {0, 0.5}, r.input, same_in_ms, c),
              hosttest::replay("kestrune", values, r.input, same_in_ms, c))
        << "in milliseconds the offset is dead";
  }
}

}  // namespace
