// Shotcut's filter folder for one effect, meta.qml and ui.qml, from the
// template tools/shotcut.qml.in (built in as shotcut_template).
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "editor_writers.h"
#include "shotcut_template.h"
#include "tool_text.h"

namespace editors {

using tooltext::shortest;

namespace {

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

// The value to store for the plug-in value v: steps as exact text, since
// MLT saves a double property with six digits and the plug-ins truncate.
std::string stored(const parameter& p, double v) {
  if (p.c.kind == "steps") return js(shortest(v));
  if (p.c.kind == "checkbox") return v >= 0.5 ? "1" : "0";
  return shortest(v);
}

std::vector<const parameter*> keyframed(const effect& e) {
  std::vector<const parameter*> keyed;
  for (const parameter& p : e.params)
    if (p.c.keyframes) keyed.push_back(&p);
  return keyed;
}

// The template's sections by name (see the notes at its top).
std::map<std::string, std::string> template_sections() {
  std::map<std::string, std::string> sections;
  std::istringstream lines(shotcut_template);
  std::string line, *current = nullptr;
  while (std::getline(lines, line)) {
    if (line.rfind("##", 0) == 0) continue;
    if (line.rfind("@@ ", 0) == 0) {
      current = &sections[line.substr(3)];
      continue;
    }
    if (!current) throw std::runtime_error("shotcut.qml.in: text before the first section");
    *current += line + "\n";
  }
  return sections;
}

const std::string& section(const std::string& name) {
  static const std::map<std::string, std::string> sections = template_sections();
  auto s = sections.find(name);
  if (s == sections.end()) throw std::runtime_error("shotcut.qml.in has no section " + name);
  return s->second;
}

// The section with every @WORD@ replaced; a word alone on its line takes
// lines (each indented as the word is, none at all for ""). Throws when a
// word of the section has no text or a text no word.
std::string fill(const std::string& name, const std::map<std::string, std::string>& words) {
  std::set<std::string> used;
  auto text_of = [&](const std::string& word) -> const std::string& {
    auto w = words.find(word);
    if (w == words.end())
      throw std::runtime_error("shotcut.qml.in, section " + name + ": nothing fills @" + word +
                               "@");
    used.insert(word);
    return w->second;
  };
  std::istringstream lines(section(name));
  std::string out, line;
  while (std::getline(lines, line)) {
    const size_t indent = line.find_first_not_of(' ');
    if (indent != std::string::npos && line.size() > indent + 1 && line[indent] == '@' &&
        line.find('@', indent + 1) == line.size() - 1) {
      std::istringstream block(text_of(line.substr(indent + 1, line.size() - indent - 2)));
      for (std::string b; std::getline(block, b);)
        out += (b.empty() ? "" : line.substr(0, indent)) + b + "\n";
      continue;
    }
    std::string done;
    for (size_t from = 0;;) {
      const size_t at = line.find('@', from);
      if (at == std::string::npos) {
        done += line.substr(from);
        break;
      }
      const size_t end = line.find('@', at + 1);
      if (end == std::string::npos)
        throw std::runtime_error("shotcut.qml.in, section " + name + ": a lone @");
      done += line.substr(from, at - from) + text_of(line.substr(at + 1, end - at - 1));
      from = end + 1;
    }
    out += done + "\n";
  }
  for (const auto& [word, text] : words)
    if (!used.count(word))
      throw std::runtime_error("shotcut.qml.in, section " + name + " has no @" + word + "@");
  return out;
}

// The grid's row for one parameter: label, control, undo button and the
// keyframes button (or an empty cell).
std::string row(const parameter& p) {
  const control& c = p.c;
  std::map<std::string, std::string> w{
      {"ID", id(p)}, {"PROPERTY", prop(p)}, {"LABEL", js(c.label)}};
  std::string kind = c.kind;
  if (c.kind == "checkbox") {
    w["DEFAULT"] = p.value >= 0.5 ? "true" : "false";
    w["STORED_DEFAULT"] = stored(p, p.value);
  } else if (c.kind == "list") {
    std::string labels, values;
    size_t default_index = 0;
    for (size_t i = 0; i < c.items.size(); ++i) {
      labels += std::string(i ? ", " : "") + "qsTr(" + js(c.items[i].first) + ")";
      values += std::string(i ? ", " : "") + shortest(c.items[i].second);
      if (c.items[i].second == p.value) default_index = i;
    }
    w["VALUES"] = values;
    w["LABELS"] = labels;
    w["DEFAULT"] = std::to_string(default_index);
    w["STORED_DEFAULT"] = stored(p, p.value);
  } else {
    w["MIN"] = shortest(c.min);
    w["MAX"] = shortest(c.max);
    w["DEFAULT"] = shortest(display_value(c, p.value));
    if (c.kind == "steps") {
      w["SUFFIX"] = js(c.suffix);
      w["TO_PLUGIN"] = to_plugin(c, "value");
      w["STORED_DEFAULT"] = stored(p, p.value);
    } else {
      kind = "slider";
      w.erase("PROPERTY");
      w["DECIMALS"] = std::to_string(c.decimals);
      w["STEP"] = shortest(1.0 / power_of_ten(c.decimals));
      w["SUFFIX_LINE"] = c.suffix.empty() ? "" : "suffix: " + js(c.suffix);
      w["ON_VALUE_CHANGED"] =
          c.keyframes ? "updateFilter(" + prop(p) + ", " + to_plugin(c, "value") + ", " +
                            key_id(p) + ", getPosition())"
                      : "if (!blockUpdate) filter.set(" + prop(p) + ", " + to_plugin(c, "value") +
                            ")";
    }
  }
  const std::string fourth =
      c.keyframes ? fill("keyframes", {{"KEY_ID", key_id(p)},
                                       {"PROPERTY", prop(p)},
                                       {"TO_PLUGIN", to_plugin(c, id(p) + ".value")}})
                  : fill("no keyframes", {});
  return "\n" + fill(kind, w) + "\n" + fourth;
}

}  // namespace

std::string shotcut_meta(const effect& e) {
  const std::vector<const parameter*> keyed = keyframed(e);
  std::string keyframes;
  if (!keyed.empty()) {
    std::string properties, parameters;
    for (size_t i = 0; i < keyed.size(); ++i) {
      properties += (i ? ", " : "") + prop(*keyed[i]);
      parameters += fill("meta parameter", {{"LABEL", js(keyed[i]->c.label)},
                                            {"PROPERTY", prop(*keyed[i])},
                                            {"COMMA", i + 1 < keyed.size() ? "," : ""}});
    }
    keyframes = fill("meta keyframes", {{"KEYFRAMED", properties}, {"PARAMETERS", parameters}});
  }
  return fill("meta", {{"FILE", e.file},
                       {"NAME", js(e.n.name)},
                       {"DESCRIPTION", js(e.n.description)},
                       {"KEYFRAMES", keyframes}});
}

std::string shotcut_ui(const effect& e) {
  const std::vector<const parameter*> keyed = keyframed(e);
  auto list_of = [](const auto& params, auto text) {
    std::string s;
    for (size_t i = 0; i < params.size(); ++i) s += (i ? ", " : "") + text(*params[i]);
    return s;
  };
  std::vector<const parameter*> all;
  for (const parameter& p : e.params) all.push_back(&p);

  // Controls from the filter's values.
  std::string set_controls, set_keyframed, enable, update;
  for (const parameter& p : e.params) {
    const std::string get = "filter.getDouble(" + prop(p) + ")";
    if (p.c.kind == "checkbox")
      set_controls += id(p) + ".checked = " + get + " >= 0.5;\n";
    else if (p.c.kind == "list")
      set_controls += id(p) + ".currentIndex = nearest(" + id(p) + ".values, " + get + ");\n";
    else if (p.c.kind == "steps")
      set_controls += id(p) + ".value = Math.floor(" + get + " * " + shortest(p.c.factor) +
                      ") + (" + shortest(p.c.offset) + ");\n";
    else if (!p.c.keyframes)
      set_controls += id(p) + ".value = " + to_display(p.c, get) + ";\n";
  }
  for (const parameter* p : keyed) {
    set_keyframed += id(*p) + ".value = " +
                     to_display(p->c, "filter.getDouble(" + prop(*p) + ", position)") + ";\n" +
                     key_id(*p) +
                     ".checked = filter.animateIn <= 0 && filter.animateOut <= 0 && "
                     "filter.keyframeCount(" +
                     prop(*p) + ") > 0;\n";
    enable += id(*p) + ".enabled = enabled;\n";
    update += "updateFilter(" + prop(*p) + ", " + to_plugin(p->c, id(*p) + ".value") + ", " +
              key_id(*p) + ", null);\n";
  }

  // Ready settings for the Preset list: saved again whenever the filter is
  // added, so that they always hold what this version of the folder says.
  std::string presets;
  if (!e.presets.empty()) {
    presets = "if (filter.isNew) {\n";
    for (const preset& pr : e.presets) {
      for (size_t i = 0; i < e.params.size(); ++i)
        presets += "    filter.set(" + prop(e.params[i]) + ", " +
                   stored(e.params[i], pr.values[i].value) + ");\n";
      presets += "    filter.savePreset(preset.parameters, qsTr(" + js(pr.name) + "));\n";
    }
    presets += "}\n";
  }
  // Defaults for a new filter, and for parameters that a project made
  // elsewhere leaves out (which the controls would read as 0): every
  // parameter, so a project names them all.
  std::string defaults;
  for (const parameter& p : e.params)
    defaults += "if (filter.isNew || filter.get(" + prop(p) + ") === '')\n    filter.set(" +
                prop(p) + ", " + stored(p, p.value) + ");\n";

  std::string rows;
  for (const parameter& p : e.params) rows += row(p);
  return fill("ui",
              {{"FILE", e.file},
               {"KEYFRAMED", list_of(keyed, prop)},
               {"KEYFRAMED_DEFAULTS",
                list_of(keyed, [](const parameter& p) { return shortest(p.value); })},
               {"HEIGHT", std::to_string(50 + 36 * e.params.size())},
               {"SET_CONTROLS", set_controls},
               {"SET_KEYFRAMED_CONTROLS", set_keyframed},
               {"ENABLE_CONTROLS", enable},
               {"UPDATE_FILTER", update},
               {"SAVE_PRESETS", presets},
               {"SET_DEFAULTS", defaults},
               {"PARAMETERS", list_of(all, prop)},
               {"ROWS", rows}});
}

}  // namespace editors
