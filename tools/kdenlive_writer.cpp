// Kdenlive's effect descriptor and presets file for one effect.
#include <cstdlib>
#include <sstream>
#include <stdexcept>

#include "editor_writers.h"
#include "tool_text.h"

namespace editors {

using tooltext::shortest;

namespace {

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

// One value of a preset as Kdenlive's presets file holds it, what its own
// "Save preset" writes: a keyframe string for a keyframable slider ("0="
// and the value: one key at the first frame), the item's number for a list,
// 0 or 1 for a checkbox.
std::string preset_text(const parameter& p, const preset_value& v) {
  const control& c = p.c;
  if (c.kind == "checkbox") return v.value >= 0.5 ? "1" : "0";
  if (kdenlive_list(c)) return kdenlive_item_text(c, v.value, v.display);
  if (c.keyframes) return js("0=" + shortest(v.value));
  return shortest(v.value);
}

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

}  // namespace

std::string kdenlive_descriptor(const effect& e) {
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
        << "                \"value\": " << preset_text(p, pr.values[i]) << "\n            }";
    }
    o << "\n        ]\n    }";
  }
  o << "\n]\n";
  return o.str();
}

}  // namespace editors
