#include "editors_notes.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

#include "plugin_host.h"
#include "tool_text.h"

namespace editors {

using tooltext::shortest;

namespace {

double to_double(const std::string& text, const std::string& what) {
  size_t used = 0;
  double v = 0;
  try {
    v = std::stod(text, &used);
  } catch (const std::exception&) {
  }
  if (used == 0 || used != text.size() || !std::isfinite(v))
    throw std::runtime_error(what + ": not a number: \"" + text + "\"");
  return v;
}

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::string field;
  std::istringstream in(s);
  while (std::getline(in, field, sep)) out.push_back(field);
  return out;
}

// Kdenlive keeps a value as a double and saves it with six significant
// digits ("%g"), and finds a list's item again by that text: an item must be
// six-digit text, or a reloaded project shows the first item, and 2/15 saved
// as 0.133333 would be the step below. The text for the plug-in value v:
// v itself where six digits hold it, else v rounded up in its sixth digit,
// which stays within v's step (far less than a step above it).
std::string six_digits_up(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.6g", v);
  if (std::strtod(buf, nullptr) >= v) return buf;
  // Six digits as a whole number and a power of ten: d.ddddde±x.
  std::snprintf(buf, sizeof buf, "%.5e", v);
  const std::string text = buf;
  const size_t e = text.find('e');
  long digits = std::lround(std::strtod(text.substr(0, e).c_str(), nullptr) * 1e5) + 1;
  std::snprintf(buf, sizeof buf, "%lde%d", digits, std::atoi(text.c_str() + e + 1) - 5);
  std::snprintf(buf, sizeof buf, "%.6g", std::strtod(buf, nullptr));
  return buf;
}

bool six_digit_text(const std::string& text) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.6g", std::strtod(text.c_str(), nullptr));
  return text == buf;
}

// The notes must describe this plug-in and map onto its 0..1 values exactly.
void check_fit(const effect& e, const std::string& notes_file) {
  for (const parameter& p : e.params) {
    const control& c = p.c;
    const std::string where = notes_file + ": " + p.name;
    if (c.meaning.empty()) throw std::runtime_error(where + ": no meaning=");
    if (p.is_bool != (c.kind == "checkbox"))
      throw std::runtime_error(where + ": a checkbox is for booleans only");
    if (c.kind == "slider" || c.kind == "steps") {
      if (plugin_value(c, c.min) != 0.0 || plugin_value(c, c.max) != 1.0)
        throw std::runtime_error(where + ": min and max must map onto 0 and 1");
      const double d = display_value(c, p.value);
      if (!(d >= c.min && d <= c.max)) throw std::runtime_error(where + ": default off the scale");
      if (c.kind == "steps" && plugin_value(c, d) != p.value)
        throw std::runtime_error(where + ": default is no step");
      if (c.kind == "slider" && c.offset != 0 && c.kdenlive.empty())
        throw std::runtime_error(where +
                                 ": Kdenlive cannot offset a slider: "
                                 "say kdenlive=percent or kdenlive=list");
      if (c.kdenlive == "list" &&
          (c.decimals != 0 || c.min != std::floor(c.min) || c.max != std::floor(c.max)))
        throw std::runtime_error(where + ": kdenlive=list needs whole numbers");
    }
    if (kdenlive_list(c)) {
      // Every item stays itself through Kdenlive's save and lands in its
      // step; the plug-in's default is one of them.
      bool found = false;
      for (const auto& [label, text] : kdenlive_items(c)) {
        const double v = std::strtod(text.c_str(), nullptr);
        if (!six_digit_text(text))
          throw std::runtime_error(where + ": list value " + text +
                                   " does not survive Kdenlive's six digits");
        if (c.kind != "list" && std::floor(v * c.factor) + c.offset != to_double(label, where))
          throw std::runtime_error(where + ": list value " + text + " is not step " + label);
        found = found || v == p.value;
      }
      if (!found) throw std::runtime_error(where + ": default is no Kdenlive list item");
    }
    if (c.kind == "list") {
      bool found = false;
      for (const auto& item : c.items) {
        if (item.second < 0 || item.second > 1)
          throw std::runtime_error(where + ": list value outside 0..1");
        if (item.first.find(',') != std::string::npos)
          throw std::runtime_error(where + ": a list label has a comma");
        found = found || item.second == p.value;
      }
      if (!found) throw std::runtime_error(where + ": default is no list item");
    }
  }
}

// The plug-in value of a slider's working value d with the fewest digits
// that still shows d: Pinch −0.7 as 0.15, not (−0.7 + 1) / 2 =
// 0.15000000000000002, as a person would write it.
double round_value(const control& c, double d) {
  const double exact = plugin_value(c, d);
  for (int digits = 1; digits < 17; ++digits) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.*g", digits, exact);
    const double v = std::strtod(buf, nullptr);
    if (std::fabs(display_value(c, v) - d) <= 1e-9 * std::fmax(1, std::fabs(d))) return v;
  }
  return exact;
}

// One value in the control's units as the plug-in's value; it must be one
// the control can show: inside its range, a whole step, a list's label.
preset_value resolve(const control& c, const std::string& text, const std::string& where) {
  if (c.kind == "checkbox") {
    if (text != "on" && text != "off") throw std::runtime_error(where + ": on or off");
    return text == "on" ? preset_value{1, 1} : preset_value{0, 0};
  }
  if (c.kind == "list") {
    for (const auto& item : c.items)
      if (item.first == text) return {item.second, item.second};
    throw std::runtime_error(where + ": no item \"" + text + "\"");
  }
  const double d = to_double(text, where);
  if (!(d >= c.min && d <= c.max)) throw std::runtime_error(where + ": off the scale");
  const double scaled = d * power_of_ten(c.kind == "steps" ? 0 : c.decimals);
  if (std::fabs(std::nearbyint(scaled) - scaled) > 1e-9 * std::fmax(1, std::fabs(scaled)) ||
      (kdenlive_list(c) && d != std::floor(d)))
    throw std::runtime_error(where + ": between the control's steps");
  return {c.kind == "slider" ? round_value(c, d) : plugin_value(c, d), d};
}

// A showcase's value: one for the whole clip, or keys FRAME=VALUE,
// FRAME|=VALUE or FRAME~=VALUE, separated by ";", at rising frames from 0,
// as MLT animates a property.
std::vector<key> resolve_keys(const control& c, const std::string& text,
                              const std::string& where) {
  if (text.find('=') == std::string::npos) return {{0, "=", resolve(c, text, where).value}};
  std::vector<key> keys;
  for (const std::string& k : split(text, ';')) {
    const size_t eq = k.find('=');
    if (eq == std::string::npos || eq == 0) throw std::runtime_error(where + ": no FRAME=VALUE");
    std::string frame = k.substr(0, eq), op = "=";
    if (frame.back() == '|' || frame.back() == '~') {
      op = frame.back() + op;
      frame.pop_back();
    }
    if (frame.empty() || frame.find_first_not_of("0123456789") != std::string::npos)
      throw std::runtime_error(where + ": no frame number in \"" + k + "\"");
    const int f = std::atoi(frame.c_str());
    if (keys.empty() ? f != 0 : f <= keys.back().frame)
      throw std::runtime_error(where + ": keys must rise from frame 0");
    keys.push_back({f, op, resolve(c, k.substr(eq + 1), where).value});
  }
  if (keys.empty()) throw std::runtime_error(where + ": no keys");
  return keys;
}

}  // namespace

double plugin_value(const control& c, double display) { return (display - c.offset) / c.factor; }

double display_value(const control& c, double value) {
  return c.kind == "steps" ? std::floor(value * c.factor) + c.offset : value * c.factor + c.offset;
}

// Not std::pow, whose last bit differs between C libraries (MinGW's gives
// 10^-3 one bit high).
double power_of_ten(int n) {
  double p = 1.0;
  for (int i = 0; i < n; ++i) p *= 10.0;
  return p;
}

bool kdenlive_list(const control& c) {
  return c.kind == "list" || c.kind == "steps" || c.kdenlive == "list";
}

std::vector<std::pair<std::string, std::string>> kdenlive_items(const control& c) {
  std::vector<std::pair<std::string, std::string>> items;
  if (c.kind == "list") {
    for (const auto& item : c.items) items.emplace_back(item.first, shortest(item.second));
  } else {
    for (double d = c.min; d <= c.max; d += 1)
      items.emplace_back(shortest(d), six_digits_up(plugin_value(c, d)));
  }
  return items;
}

std::string js(const std::string& s) {
  std::string out = "\"";
  for (char ch : s) {
    if (ch == '"' || ch == '\\') out += '\\';
    out += ch;
  }
  return out + "\"";
}

notes read_notes(const std::string& path) {
  notes n;
  std::istringstream lines(tooltext::read_file(path));
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields = split(line, '\t');
    const std::string subject = fields.at(0);
    std::map<std::string, std::string> kv;
    for (size_t i = 1; i < fields.size(); ++i) {
      const size_t eq = fields[i].find('=');
      if (eq == std::string::npos)
        throw std::runtime_error(path + ": no key=value in \"" + fields[i] + "\"");
      if (!kv.emplace(fields[i].substr(0, eq), fields[i].substr(eq + 1)).second)
        throw std::runtime_error(path + ": " + subject + ": " + fields[i].substr(0, eq) +
                                 " given twice");
    }
    auto take = [&](const std::string& key, const std::string& fallback = "") {
      auto it = kv.find(key);
      if (it == kv.end()) return fallback;
      std::string v = it->second;
      kv.erase(it);
      return v;
    };
    const std::string where = path + ": " + subject;
    if (subject == "effect") {
      n.name = take("name");
      n.description = take("description");
      n.full_description = take("full");
    } else if (subject == "preset" || subject == "showcase") {
      setting_notes s;
      s.name = take("name");
      s.gallery = take("gallery");
      if (s.name.empty()) throw std::runtime_error(where + " without a name");
      if (s.gallery.empty()) throw std::runtime_error(where + " \"" + s.name + "\" without gallery=");
      for (const auto* list : {&n.presets, &n.showcases})
        for (const auto& other : *list)
          if (other.name == s.name || other.gallery == s.gallery)
            throw std::runtime_error(where + " \"" + s.name + "\": its name or gallery= twice");
      s.values = kv;
      kv.clear();
      (subject == "preset" ? n.presets : n.showcases).push_back(s);
    } else {
      if (n.controls.count(subject)) throw std::runtime_error(where + " given twice");
      control c;
      c.kind = take("control");
      c.label = take("label", subject);
      c.help = take("help");
      c.suffix = take("suffix");
      c.meaning = take("meaning");
      c.min = to_double(take("min", "0"), where + " min");
      c.max = to_double(take("max", "1"), where + " max");
      c.factor = to_double(take("factor", "1"), where + " factor");
      c.offset = to_double(take("offset", "0"), where + " offset");
      c.decimals = int(to_double(take("decimals", "0"), where + " decimals"));
      c.keyframes = take("keyframes", "no") == "yes";
      c.kdenlive = take("kdenlive");
      c.kdenlive_decimals =
          int(to_double(take("kdenlive_decimals", "1"), where + " kdenlive_decimals"));
      if (!c.kdenlive.empty() && c.kdenlive != "percent" && c.kdenlive != "list")
        throw std::runtime_error(where + ": unknown kdenlive form \"" + c.kdenlive + "\"");
      for (const std::string& item : split(take("items"), ';')) {
        const size_t colon = item.rfind(':');
        if (colon == std::string::npos)
          throw std::runtime_error(where + ": item without a value: " + item);
        c.items.emplace_back(item.substr(0, colon),
                             to_double(item.substr(colon + 1), where + " item"));
      }
      if (c.kind != "slider" && c.kind != "steps" && c.kind != "list" && c.kind != "checkbox")
        throw std::runtime_error(where + ": unknown control \"" + c.kind + "\"");
      n.controls[subject] = c;
    }
    if (!kv.empty()) throw std::runtime_error(where + ": unknown key " + kv.begin()->first);
  }
  if (n.name.empty()) throw std::runtime_error(path + ": no effect name");
  return n;
}

effect load_effect(const std::string& so, const std::string& notes_dir) {
  testhost::plugin plugin(so);
  effect e;
  e.file = tooltext::file_name(so);
  const f0r_plugin_info_t info = plugin.info();
  e.author = info.author;
  e.version = std::to_string(info.major_version) + "." + std::to_string(info.minor_version);
  const std::string notes_file = notes_dir + "/" + e.file + ".editors";
  e.n = read_notes(notes_file);
  testhost::instance inst = plugin.construct(64, 64);
  if (!inst.valid()) throw std::runtime_error(so + ": construct failed");
  std::map<std::string, control> left = e.n.controls;
  for (int i = 0; i < info.num_params; ++i) {
    const f0r_param_info_t pi = plugin.param_info(i);
    auto c = left.find(pi.name);
    if (c == left.end())
      throw std::runtime_error(notes_file + ": no control for \"" + pi.name + "\"");
    e.params.push_back(parameter{i, pi.name, pi.explanation, pi.type == F0R_PARAM_BOOL,
                                 inst.get(i), c->second});
    left.erase(c);
  }
  if (!left.empty())
    throw std::runtime_error(notes_file + ": control for unknown parameter \"" +
                             left.begin()->first + "\"");
  check_fit(e, notes_file);

  // Presets and showcases name every parameter they change once; the others
  // keep their defaults.
  auto each_value = [&](const setting_notes& s, const std::string& kind, auto&& given,
                        auto&& fallback) {
    const std::string where = notes_file + ": " + kind + " \"" + s.name + "\"";
    std::map<std::string, std::string> values = s.values;
    for (const parameter& p : e.params) {
      auto v = values.find(p.name);
      if (v == values.end()) {
        fallback(p);
        continue;
      }
      given(p, v->second, where + " " + p.name);
      values.erase(v);
    }
    if (!values.empty())
      throw std::runtime_error(where + ": no parameter \"" + values.begin()->first + "\"");
  };
  for (const setting_notes& s : e.n.presets) {
    preset out{s.name, s.gallery, {}};
    each_value(
        s, "preset",
        [&](const parameter& p, const std::string& text, const std::string& where) {
          out.values.push_back(resolve(p.c, text, where));
        },
        [&](const parameter& p) {
          out.values.push_back({p.value, display_value(p.c, p.value)});
        });
    e.presets.push_back(out);
  }
  for (const setting_notes& s : e.n.showcases) {
    showcase out{s.name, s.gallery, {}};
    each_value(
        s, "showcase",
        [&](const parameter& p, const std::string& text, const std::string& where) {
          out.keys.push_back(resolve_keys(p.c, text, where));
        },
        [&](const parameter& p) { out.keys.push_back({{0, "=", p.value}}); });
    e.showcases.push_back(out);
  }
  return e;
}

}  // namespace editors
