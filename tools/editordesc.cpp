// editordesc: writes the Kdenlive effect descriptors and the Shotcut filter
// folders from the plug-ins themselves plus docs/params/NAME.editors, so what
// the editors show cannot drift from what the plug-ins are.
//
//   editordesc --check NOTES_DIR OUT_DIR PLUGIN.so...
//   editordesc --write NOTES_DIR OUT_DIR PLUGIN.so...
//
// For each plug-in it makes OUT_DIR/kdenlive/frei0r_NAME.xml,
// OUT_DIR/kdenlive/presets/frei0r.NAME.json and
// OUT_DIR/shotcut/NAME/{meta.qml,ui.qml}. Parameter names, order, count and
// defaults (the values a new instance reads back) come from the .so; labels,
// units, their mapping onto the plug-in's 0..1 values and the ready settings
// (presets) from the notes. --check exits 1 when a committed file differs
// from what it would write; both modes refuse notes that do not fit the
// plug-in (a parameter without a control or a control without a parameter,
// a checkbox for a double, a range that does not map onto 0..1 exactly, a
// default off the scale, a preset value off the scale or between steps).
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "plugin_host.h"
#include "tool_text.h"

namespace {

using tooltext::shortest;

// 10^n, exact for the few decimals a control has; not std::pow, whose last
// bit differs between C libraries (MinGW's gives 10^-3 one bit high).
double power_of_ten(int n) {
  double p = 1.0;
  for (int i = 0; i < n; ++i) p *= 10.0;
  return p;
}

// One control, in the editor's units. A slider or steps control shows
// d = v × factor + offset for the plug-in's value v and sets
// v = (d − offset) / factor; steps are whole numbers and read a value back
// as floor(v × factor) + offset, as the plug-ins truncate. A list sets the
// value of the chosen item.
//
// Kdenlive 22.12 has no offset: it shows v × factor and stores d / factor,
// and ignores an `offset` attribute. A slider with an offset therefore says
// how Kdenlive is to show it instead (`kdenlive`): "percent", the plug-in's
// 0..1 as 0 … 100 % (keyframable, with the zero point in the label), or
// "list", every whole value of the slider as a list item (exact, in the
// working unit, but not keyframable).
struct control {
  std::string kind;  // slider, steps, list or checkbox
  std::string label, help, suffix;
  double min = 0, max = 1, factor = 1, offset = 0;
  int decimals = 0;
  bool keyframes = false;
  std::vector<std::pair<std::string, double>> items;
  std::string kdenlive;  // "", "percent" or "list"
  int kdenlive_decimals = 1;
};

// A ready setting as the notes give it: values in the controls' own units
// by parameter name (a list's label, "on" or "off" for a checkbox);
// parameters left out keep the plug-in's default.
struct preset_notes {
  std::string name, gallery;  // gallery: its name in demo/presets/ (for the tests)
  std::map<std::string, std::string> values;
};

struct notes {
  std::string name, description, full_description;
  std::map<std::string, control> controls;
  std::vector<preset_notes> presets;
};

struct parameter {
  int index;
  std::string name;
  bool is_bool;
  double value;  // the default, as a new instance reads it back
  control c;
};

// One value of a preset, as each editor stores it.
struct preset_value {
  std::string shotcut;   // the text ui.qml sets
  std::string kdenlive;  // the JSON value Kdenlive's presets file holds
};

struct preset {
  std::string name;
  std::vector<preset_value> values;  // by parameter index
};

struct effect {
  std::string file;  // plug-in file name without .so
  std::string author, version;
  notes n;
  std::vector<parameter> params;
  std::vector<preset> presets;
};

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
      kv[fields[i].substr(0, eq)] = fields[i].substr(eq + 1);
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
    } else if (subject == "preset") {
      preset_notes p;
      p.name = take("name");
      p.gallery = take("gallery");
      if (p.name.empty()) throw std::runtime_error(where + " without a name");
      for (const auto& other : n.presets)
        if (other.name == p.name) throw std::runtime_error(where + " \"" + p.name + "\" twice");
      p.values = kv;
      kv.clear();
      n.presets.push_back(p);
    } else {
      if (n.controls.count(subject)) throw std::runtime_error(where + " given twice");
      control c;
      c.kind = take("control");
      c.label = take("label", subject);
      c.help = take("help");
      c.suffix = take("suffix");
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

// The plug-in value a display value stands for, as both editors compute it.
double plugin_value(const control& c, double display) { return (display - c.offset) / c.factor; }

double display_value(const control& c, double value) {
  return c.kind == "steps" ? std::floor(value * c.factor) + c.offset : value * c.factor + c.offset;
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

bool kdenlive_list(const control& c) {
  return c.kind == "list" || c.kind == "steps" || c.kdenlive == "list";
}

// Kdenlive's list items as (label, stored text): a list's own items, or
// every whole value of a steps control or a slider shown as a list.
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

// The notes must describe this plug-in and map onto its 0..1 values exactly.
void check_fit(const effect& e, const std::string& notes_file) {
  for (const parameter& p : e.params) {
    const control& c = p.c;
    const std::string where = notes_file + ": " + p.name;
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

// JavaScript string literal (QML shares its syntax).
std::string js(const std::string& s) {
  std::string out = "\"";
  for (char ch : s) {
    if (ch == '"' || ch == '\\') out += '\\';
    out += ch;
  }
  return out + "\"";
}

// The value to store for the plug-in value v: steps as exact text, since
// MLT saves a double property with six digits and the plug-ins truncate.
std::string stored(const parameter& p, double v) {
  if (p.c.kind == "steps") return js(shortest(v));
  if (p.c.kind == "checkbox") return v >= 0.5 ? "1" : "0";
  return shortest(v);
}

// The label Kdenlive shows: a list of whole values names its unit, a
// percent slider whose working unit has its zero inside the range says
// where that zero lies.
std::string kdenlive_label(const parameter& p) {
  const control& c = p.c;
  if (kdenlive_list(c) && c.kind != "list" && !c.suffix.empty())
    return c.label + " (" + c.suffix.substr(c.suffix.find_first_not_of(' ')) + ")";
  if (c.kdenlive == "percent" && c.min < 0 && c.max > 0)
    return c.label + " (" + shortest(plugin_value(c, 0) * 100) + " % = 0" + c.suffix + ")";
  return c.label;
}

// The stored text of the Kdenlive list item for plug-in value v, shown as
// the working value d: the item of exactly v, else the one labelled d.
std::string kdenlive_item_text(const control& c, double v, double d) {
  for (const auto& [label, text] : kdenlive_items(c))
    if (std::strtod(text.c_str(), nullptr) == v) return text;
  for (const auto& [label, text] : kdenlive_items(c))
    if (label == shortest(d)) return text;
  throw std::runtime_error("no Kdenlive list item for " + shortest(d));
}

// One value of a preset in every editor's form. Kdenlive's presets file
// holds what its own "Save preset" writes: a keyframe string for a
// keyframable slider ("0=" and the value: one key at the first frame), the
// item's number for a list, 0 or 1 for a checkbox.
preset_value editor_values(const parameter& p, double v, double d) {
  const control& c = p.c;
  preset_value out{stored(p, v), ""};
  if (c.kind == "checkbox")
    out.kdenlive = v >= 0.5 ? "1" : "0";
  else if (kdenlive_list(c))
    out.kdenlive = kdenlive_item_text(c, v, d);
  else if (c.keyframes)
    out.kdenlive = js("0=" + shortest(v));
  else
    out.kdenlive = shortest(v);
  return out;
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

// The notes' presets in the plug-in's values; each value must be one the
// control can show: inside its range, a whole step, a list's label.
void resolve_presets(effect& e, const std::string& notes_file) {
  for (const preset_notes& pn : e.n.presets) {
    const std::string where = notes_file + ": preset \"" + pn.name + "\"";
    std::map<std::string, std::string> left = pn.values;
    preset out{pn.name, {}};
    for (const parameter& p : e.params) {
      const control& c = p.c;
      auto given = left.find(p.name);
      if (given == left.end()) {
        out.values.push_back(editor_values(p, p.value, display_value(c, p.value)));
        continue;
      }
      const std::string text = given->second, w = where + " " + p.name;
      left.erase(given);
      double v = 0, d = 0;
      if (c.kind == "checkbox") {
        if (text != "on" && text != "off") throw std::runtime_error(w + ": on or off");
        v = d = text == "on" ? 1 : 0;
      } else if (c.kind == "list") {
        bool found = false;
        for (const auto& item : c.items) {
          if (item.first != text) continue;
          v = d = item.second;
          found = true;
        }
        if (!found) throw std::runtime_error(w + ": no item \"" + text + "\"");
      } else {
        d = to_double(text, w);
        if (!(d >= c.min && d <= c.max)) throw std::runtime_error(w + ": off the scale");
        const double places = std::pow(10.0, c.kind == "steps" ? 0 : c.decimals);
        const double scaled = d * places;
        if (std::fabs(std::nearbyint(scaled) - scaled) > 1e-9 * std::fmax(1, std::fabs(scaled)) ||
            (kdenlive_list(c) && d != std::floor(d)))
          throw std::runtime_error(w + ": between the control's steps");
        v = c.kind == "slider" ? round_value(c, d) : plugin_value(c, d);
      }
      out.values.push_back(editor_values(p, v, d));
    }
    if (!left.empty())
      throw std::runtime_error(where + ": no parameter \"" + left.begin()->first + "\"");
    e.presets.push_back(out);
  }
}

effect load(const std::string& so, const std::string& notes_dir) {
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
    e.params.push_back(parameter{i, pi.name, pi.type == F0R_PARAM_BOOL, inst.get(i), c->second});
    left.erase(c);
  }
  if (!left.empty())
    throw std::runtime_error(notes_file + ": control for unknown parameter \"" +
                             left.begin()->first + "\"");
  check_fit(e, notes_file);
  resolve_presets(e, notes_file);
  return e;
}

// ---- Kdenlive

std::string xml(const std::string& s) {
  std::string out;
  for (char ch : s) {
    switch (ch) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += ch;
    }
  }
  return out;
}

std::string kdenlive(const effect& e) {
  std::ostringstream o;
  o << "<?xml version=\"1.0\"?>\n<!DOCTYPE kpartgui>\n"
    << "<!-- Made by tools/editordesc from the plug-in and docs/params/" << e.file
    << ".editors (scripts/update-docs.sh); do not edit. -->\n"
    << "<effect LC_NUMERIC=\"C\" tag=\"frei0r." << e.file << "\" id=\"frei0r." << e.file << "\">\n"
    << "    <name>" << xml(e.n.name) << "</name>\n"
    << "    <description>" << xml(e.n.description);
  // The longer text, in the shape of Kdenlive's own descriptors.
  if (!e.n.full_description.empty()) o << "\n<full>" << xml(e.n.full_description) << "</full>";
  o << "</description>\n"
    << "    <author>" << xml(e.author) << "</author>\n";
  for (const parameter& p : e.params) {
    const control& c = p.c;
    const std::string label = kdenlive_label(p);
    std::string help = c.help;
    o << "    <parameter";
    if (c.kind == "checkbox") {
      o << " type=\"bool\" name=\"" << xml(p.name) << "\" default=\"" << (p.value >= 0.5 ? 1 : 0)
        << "\">\n";
    } else if (kdenlive_list(c)) {
      std::string values, labels, default_text;
      for (const auto& [item_label, text] : kdenlive_items(c)) {
        values += (values.empty() ? "" : ";") + text;
        labels += (labels.empty() ? "" : ",") + item_label;
        if (std::strtod(text.c_str(), nullptr) == p.value) default_text = text;
      }
      o << " type=\"list\" name=\"" << xml(p.name) << "\" default=\"" << default_text
        << "\" paramlist=\"" << values << "\">\n"
        << "        <paramlistdisplay>" << xml(labels) << "</paramlistdisplay>\n";
    } else if (c.kdenlive == "percent") {
      // The plug-in's own scale; the label says where the working unit's
      // zero lies, the comment where both ends lie.
      help += (help.empty() ? "" : ". ") + std::string("In Kdenlive: 0 % = ") + shortest(c.min) +
              c.suffix + ", 100 % = " + shortest(c.max) + c.suffix;
      o << " type=\"" << (c.keyframes ? "animated" : "constant") << "\" name=\"" << xml(p.name)
        << "\" default=\"" << shortest(p.value)
        << "\" min=\"0\" max=\"100\" factor=\"100\" decimals=\"" << c.kdenlive_decimals
        << "\" suffix=\" %\">\n";
    } else {
      o << " type=\"" << (c.keyframes ? "animated" : "constant") << "\" name=\"" << xml(p.name)
        << "\" default=\"" << shortest(p.value) << "\" min=\"" << shortest(c.min) << "\" max=\""
        << shortest(c.max) << "\" factor=\"" << shortest(c.factor) << "\" decimals=\"" << c.decimals
        << "\"";
      if (!c.suffix.empty()) o << " suffix=\"" << xml(c.suffix) << "\"";
      o << ">\n";
    }
    o << "        <name>" << xml(label) << "</name>\n";
    if (!help.empty()) o << "        <comment>" << xml(help) << "</comment>\n";
    o << "    </parameter>\n";
  }
  o << "</effect>\n";
  return o.str();
}

// Kdenlive reads presets only from the user's folder
// (<AppData>/kdenlive/effects/presets/<effect id>.json): a JSON array of
// objects, each naming one preset and listing its parameters in the form
// that Kdenlive 22.12's own "Save preset" writes (keys sorted and indented
// as Qt writes them): "min" and "max" in the plug-in's units, "in" and "out"
// the span of the clip a preset was saved from, for which 0 and 0 load as
// well (tried in Kdenlive 22.12).
std::string kdenlive_presets(const effect& e) {
  std::ostringstream o;
  o << "[";
  for (size_t k = 0; k < e.presets.size(); ++k) {
    const preset& pr = e.presets[k];
    o << (k ? "," : "") << "\n    {\n        " << js(pr.name) << ": [";
    for (size_t i = 0; i < e.params.size(); ++i) {
      const parameter& p = e.params[i];
      const bool list = kdenlive_list(p.c), box = p.c.kind == "checkbox";
      const int type = box ? 4 : list ? 1 : p.c.keyframes ? 9 : 0;
      o << (i ? "," : "") << "\n            {\n"
        << "                \"DisplayName\": " << js(kdenlive_label(p)) << ",\n"
        << "                \"in\": 0,\n"
        << "                \"max\": " << (box || list ? 0 : 1) << ",\n"
        << "                \"min\": 0,\n"
        << "                \"name\": " << js(p.name) << ",\n"
        << "                \"opacity\": true,\n"
        << "                \"out\": 0,\n"
        << "                \"type\": " << type << ",\n"
        << "                \"value\": " << pr.values[i].kdenlive << "\n            }";
    }
    o << "\n        ]\n    }";
  }
  o << "\n]\n";
  return o.str();
}

// ---- Shotcut

std::string prop(const parameter& p) { return "'" + std::to_string(p.index) + "'"; }
std::string id(const parameter& p) { return "c" + std::to_string(p.index); }
std::string key_id(const parameter& p) { return "k" + std::to_string(p.index); }

// JavaScript for the plug-in value of the control's display value `d`.
std::string to_plugin(const control& c, const std::string& d) {
  const std::string shifted = c.offset == 0 ? d : "(" + d + " - (" + shortest(c.offset) + "))";
  return shifted + " / " + shortest(c.factor);
}

// JavaScript for the display value of the plug-in value `v`.
std::string to_display(const control& c, const std::string& v) {
  const std::string scaled = v + " * " + shortest(c.factor);
  return c.offset == 0 ? scaled : scaled + " + (" + shortest(c.offset) + ")";
}

std::string meta_qml(const effect& e) {
  std::ostringstream o;
  o << "// Made by tools/editordesc from the plug-in and docs/params/" << e.file
    << ".editors\n// (scripts/update-docs.sh); do not edit.\n"
    << "import QtQuick 2.0\nimport org.shotcut.qml 1.0\n\nMetadata {\n"
    << "    type: Metadata.Filter\n"
    << "    name: qsTr(" << js(e.n.name) << ")\n"
    << "    keywords: qsTr(" << js(e.n.description) << ") + ' " << e.file << "'\n"
    << "    mlt_service: \"frei0r." << e.file << "\"\n"
    << "    qml: \"ui.qml\"\n"
    << "    icon: \"icon.png\"\n";
  std::vector<const parameter*> keyed;
  for (const parameter& p : e.params)
    if (p.c.keyframes) keyed.push_back(&p);
  if (!keyed.empty()) {
    o << "\n    keyframes {\n        allowAnimateIn: true\n"
      << "        allowAnimateOut: true\n        simpleProperties: [";
    for (size_t i = 0; i < keyed.size(); ++i) o << (i ? ", " : "") << prop(*keyed[i]);
    o << "]\n        parameters: [\n";
    for (size_t i = 0; i < keyed.size(); ++i)
      o << "            Parameter {\n"
        << "                name: qsTr(" << js(keyed[i]->c.label) << ")\n"
        << "                property: " << prop(*keyed[i]) << "\n"
        << "                isCurve: true\n                minimum: 0\n"
        << "                maximum: 1\n            }" << (i + 1 < keyed.size() ? "," : "") << "\n";
    o << "        ]\n    }\n";
  }
  o << "}\n";
  return o.str();
}

std::string ui_qml(const effect& e) {
  std::vector<const parameter*> keyed;
  for (const parameter& p : e.params)
    if (p.c.keyframes) keyed.push_back(&p);
  std::ostringstream o;
  o << "// Made by tools/editordesc from the plug-in and docs/params/" << e.file
    << ".editors\n// (scripts/update-docs.sh); do not edit.\n"
    << "import QtQuick 2.12\nimport QtQuick.Controls 2.12\n"
    << "import QtQuick.Layouts 1.12\nimport Shotcut.Controls 1.0 as Shotcut\n\n"
    << "Shotcut.KeyframableFilter {\n";
  auto list_of = [&](auto text) {
    std::string s = "[";
    for (size_t i = 0; i < keyed.size(); ++i) s += (i ? ", " : "") + text(*keyed[i]);
    return s + "]";
  };
  o << "    keyframableParameters: " << list_of(prop) << "\n";
  const std::string defaults = list_of([](const parameter& p) { return shortest(p.value); });
  o << "    startValues: " << defaults << "\n    middleValues: " << defaults
    << "\n    endValues: " << defaults << "\n"
    << "    width: 350\n    height: " << 50 + 36 * e.params.size() << "\n\n";

  // Controls from the filter's values.
  o << "    function nearest(values, v) {\n        var best = 0;\n"
    << "        for (var i = 1; i < values.length; i++)\n"
    << "            if (Math.abs(values[i] - v) < Math.abs(values[best] - v))\n"
    << "                best = i;\n        return best;\n    }\n\n"
    << "    function setControls() {\n        setKeyframableControls();\n"
    << "        blockUpdate = true;\n";
  for (const parameter& p : e.params) {
    const std::string get = "filter.getDouble(" + prop(p) + ")";
    if (p.c.kind == "checkbox")
      o << "        " << id(p) << ".checked = " << get << " >= 0.5;\n";
    else if (p.c.kind == "list")
      o << "        " << id(p) << ".currentIndex = nearest(" << id(p) << ".values, " << get
        << ");\n";
    else if (p.c.kind == "steps")
      o << "        " << id(p) << ".value = Math.floor(" << get << " * " << shortest(p.c.factor)
        << ") + (" << shortest(p.c.offset) << ");\n";
    else if (!p.c.keyframes)
      o << "        " << id(p) << ".value = " << to_display(p.c, get) << ";\n";
  }
  o << "        blockUpdate = false;\n    }\n\n"
    << "    function setKeyframableControls() {\n"
    << "        var position = getPosition();\n        blockUpdate = true;\n";
  for (const parameter* p : keyed)
    o << "        " << id(*p)
      << ".value = " << to_display(p->c, "filter.getDouble(" + prop(*p) + ", position)")
      << ";\n        " << key_id(*p)
      << ".checked = filter.animateIn <= 0 && filter.animateOut <= 0 && "
         "filter.keyframeCount("
      << prop(*p) << ") > 0;\n";
  o << "        blockUpdate = false;\n"
    << "        enableControls(isSimpleKeyframesActive());\n    }\n\n"
    << "    function enableControls(enabled) {\n";
  for (const parameter* p : keyed) o << "        " << id(*p) << ".enabled = enabled;\n";
  o << "    }\n\n    function updateSimpleKeyframes() {\n"
    << "        setKeyframableControls();\n";
  for (const parameter* p : keyed)
    o << "        updateFilter(" << prop(*p) << ", " << to_plugin(p->c, id(*p) + ".value") << ", "
      << key_id(*p) << ", null);\n";
  o << "    }\n\n";

  // Defaults for a new filter, and for parameters that a project made
  // elsewhere leaves out (which the controls would read as 0): every
  // parameter, so a project names them all.
  o << "    Component.onCompleted: {\n"
    << "        // Whole frames, in order, to one instance: MLT takes threads 0 as\n"
    << "        // one slice of the frame per processor.\n"
    << "        filter.set('threads', 1);\n";
  // Ready settings for the Preset list: saved again whenever the filter is
  // added, so that they always hold what this version of the folder says.
  if (!e.presets.empty()) {
    o << "        if (filter.isNew) {\n";
    for (const preset& pr : e.presets) {
      for (size_t i = 0; i < e.params.size(); ++i)
        o << "            filter.set(" << prop(e.params[i]) << ", " << pr.values[i].shotcut
          << ");\n";
      o << "            filter.savePreset(preset.parameters, qsTr(" << js(pr.name) << "));\n";
    }
    o << "        }\n";
  }
  for (const parameter& p : e.params)
    o << "        if (filter.isNew || filter.get(" << prop(p) << ") === '')\n"
      << "            filter.set(" << prop(p) << ", " << stored(p, p.value) << ");\n";
  o << "        if (filter.isNew)\n            filter.savePreset(preset.parameters);\n"
    << "        setControls();\n    }\n\n";

  o << "    GridLayout {\n        anchors.fill: parent\n        anchors.margins: 8\n"
    << "        columns: 4\n\n"
    << "        Label {\n            text: qsTr('Preset')\n"
    << "            Layout.alignment: Qt.AlignRight\n        }\n\n"
    << "        Shotcut.Preset {\n            id: preset\n\n            parameters: [";
  for (size_t i = 0; i < e.params.size(); ++i) o << (i ? ", " : "") << prop(e.params[i]);
  o << "]\n            Layout.columnSpan: 3\n"
    << "            onBeforePresetLoaded: resetSimpleKeyframes()\n"
    << "            onPresetSelected: {\n                setControls();\n"
    << "                initializeSimpleKeyframes();\n            }\n        }\n";

  for (const parameter& p : e.params) {
    const control& c = p.c;
    const double d = display_value(c, p.value);
    o << "\n        Label {\n";
    if (c.kind != "checkbox") o << "            text: qsTr(" << js(c.label) << ")\n";
    o << "            Layout.alignment: Qt.AlignRight\n        }\n\n";
    std::string reset;
    if (c.kind == "checkbox") {
      o << "        CheckBox {\n            id: " << id(p) << "\n\n"
        << "            text: qsTr(" << js(c.label) << ")\n"
        << "            onClicked: filter.set(" << prop(p) << ", checked ? 1 : 0)\n"
        << "        }\n";
      reset = id(p) + ".checked = " + (p.value >= 0.5 ? "true" : "false") +
              ";\n                filter.set(" + prop(p) + ", " + stored(p, p.value) + ");";
    } else if (c.kind == "list") {
      std::string labels, values;
      size_t default_index = 0;
      for (size_t i = 0; i < c.items.size(); ++i) {
        labels += std::string(i ? ", " : "") + "qsTr(" + js(c.items[i].first) + ")";
        values += std::string(i ? ", " : "") + shortest(c.items[i].second);
        if (c.items[i].second == p.value) default_index = i;
      }
      o << "        Shotcut.ComboBox {\n            id: " << id(p) << "\n\n"
        << "            property var values: [" << values << "]\n\n"
        << "            model: [" << labels << "]\n"
        << "            onActivated: filter.set(" << prop(p) << ", values[currentIndex])\n"
        << "        }\n";
      reset = id(p) + ".currentIndex = " + std::to_string(default_index) +
              ";\n                filter.set(" + prop(p) + ", " + stored(p, p.value) + ");";
    } else if (c.kind == "steps") {
      // Exact text: see stored().
      o << "        SpinBox {\n            id: " << id(p) << "\n\n"
        << "            from: " << shortest(c.min) << "\n            to: " << shortest(c.max)
        << "\n            editable: true\n"
        << "            textFromValue: function(value) { return value + " << js(c.suffix) << "; }\n"
        << "            valueFromText: function(text) { return parseInt(text); }\n"
        << "            onValueModified: filter.set(" << prop(p) << ", String("
        << to_plugin(c, "value") << "))\n        }\n";
      reset = id(p) + ".value = " + shortest(d) + ";\n                filter.set(" + prop(p) +
              ", " + stored(p, p.value) + ");";
    } else {
      o << "        Shotcut.SliderSpinner {\n            id: " << id(p) << "\n\n"
        << "            minimumValue: " << shortest(c.min) << "\n"
        << "            maximumValue: " << shortest(c.max) << "\n"
        << "            decimals: " << c.decimals << "\n"
        << "            stepSize: " << shortest(1.0 / power_of_ten(c.decimals)) << "\n";
      if (!c.suffix.empty()) o << "            suffix: " << js(c.suffix) << "\n";
      if (c.keyframes)
        o << "            onValueChanged: updateFilter(" << prop(p) << ", " << to_plugin(c, "value")
          << ", " << key_id(p) << ", getPosition())\n";
      else
        o << "            onValueChanged: if (!blockUpdate) filter.set(" << prop(p) << ", "
          << to_plugin(c, "value") << ")\n";
      o << "        }\n";
      reset = id(p) + ".value = " + shortest(d) + ";";
    }
    o << "\n        Shotcut.UndoButton {\n            onClicked: {\n"
      << "                " << reset << "\n            }\n        }\n\n";
    if (c.keyframes)
      o << "        Shotcut.KeyframesButton {\n            id: " << key_id(p) << "\n\n"
        << "            onToggled: {\n                enableControls(true);\n"
        << "                toggleKeyframes(checked, " << prop(p) << ", "
        << to_plugin(c, id(p) + ".value") << ");\n            }\n        }\n";
    else
      o << "        Item {\n            width: 1\n        }\n";
  }
  o << "\n        Item {\n            Layout.fillHeight: true\n        }\n    }\n\n"
    << "    Connections {\n"
    << "        function onChanged() {\n            setKeyframableControls();\n        }\n\n"
    << "        function onInChanged() {\n            updateSimpleKeyframes();\n        }\n\n"
    << "        function onOutChanged() {\n            updateSimpleKeyframes();\n        }\n\n"
    << "        function onAnimateInChanged() {\n            updateSimpleKeyframes();\n        "
       "}\n\n"
    << "        function onAnimateOutChanged() {\n            updateSimpleKeyframes();\n        "
       "}\n\n"
    << "        function onPropertyChanged() {\n            setControls();\n        }\n\n"
    << "        target: filter\n    }\n\n"
    << "    Connections {\n"
    << "        function onPositionChanged() {\n            setKeyframableControls();\n        "
       "}\n\n"
    << "        target: producer\n    }\n}\n";
  return o.str();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5 || (std::string(argv[1]) != "--check" && std::string(argv[1]) != "--write")) {
    std::cerr << "usage: editordesc --check|--write NOTES_DIR OUT_DIR PLUGIN.so...\n";
    return 2;
  }
  const bool write = std::string(argv[1]) == "--write";
  const std::string notes_dir = argv[2], out = argv[3];
  try {
    int differ = 0;
    for (int a = 4; a < argc; ++a) {
      const effect e = load(argv[a], notes_dir);
      const std::string shotcut = out + "/shotcut/" + e.file;
      const std::pair<std::string, std::string> files[] = {
          {out + "/kdenlive/frei0r_" + e.file + ".xml", kdenlive(e)},
          {out + "/kdenlive/presets/frei0r." + e.file + ".json", kdenlive_presets(e)},
          {shotcut + "/meta.qml", meta_qml(e)},
          {shotcut + "/ui.qml", ui_qml(e)}};
      for (const auto& [path, text] : files) {
        std::string before;
        try {
          before = tooltext::read_file(path);
        } catch (const std::runtime_error&) {
        }
        if (before == text) continue;
        if (write) {
          std::filesystem::create_directories(std::filesystem::path(path).parent_path());
          std::ofstream(path) << text;
        } else {
          std::cerr << path << " differs from what the plug-in and notes make\n";
          ++differ;
        }
      }
    }
    if (differ) {
      std::cerr << "run editordesc --write (scripts/update-docs.sh)\n";
      return 1;
    }
    std::cout << "editor descriptors match " << argc - 4 << " plug-ins\n";
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "editordesc: " << e.what() << "\n";
    return 1;
  }
}
