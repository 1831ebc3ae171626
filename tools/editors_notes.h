// The reader of docs/params/NAME.editors: one file per plug-in that says what
// each parameter means, how Kdenlive and Shotcut show it, the ready settings
// (presets) and the gallery's keyframed showcases. load_effect() joins it with
// what the plug-in itself reports (names, order, types, defaults) and refuses
// notes that do not fit the plug-in: a parameter without a control or a
// control without a parameter, a checkbox for a double, a range that does not
// map onto 0..1 exactly, a default off the scale, a preset value off the
// scale or between steps.
//
// The file: one line per parameter (its name, then tab-separated key=value
// fields), one "effect" line, a "preset" line per ready setting and a
// "showcase" line per keyframed showcase; lines starting with # are notes.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace editors {

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
  std::string meaning;  // what a value means in the effect's own units (README)
  double min = 0, max = 1, factor = 1, offset = 0;
  int decimals = 0;
  bool keyframes = false;
  std::vector<std::pair<std::string, double>> items;
  std::string kdenlive;  // "", "percent" or "list"
  int kdenlive_decimals = 1;
};

// A ready setting or a showcase as the notes give it: values in the
// controls' own units by parameter name (a list's label, "on" or "off" for a
// checkbox; a showcase's as MLT keyframes, FRAME=VALUE;…); parameters left
// out keep the plug-in's default.
struct setting_notes {
  std::string name, gallery;  // gallery: the name of its video in the demo
  std::map<std::string, std::string> values;
};

struct notes {
  std::string name, description, full_description;
  std::map<std::string, control> controls;
  std::vector<setting_notes> presets, showcases;
};

struct parameter {
  int index;
  std::string name, explanation;
  bool is_bool;
  double value;  // the default, as a new instance reads it back
  control c;
};

// One value of a preset: the plug-in's value and what the control shows.
struct preset_value {
  double value, display;
};

struct preset {
  std::string name, gallery;
  std::vector<preset_value> values;  // by parameter index
};

// One key of a showcase: from `frame` on, MLT's operator ("=" linear, "|="
// held, "~=" smooth) towards the plug-in's value.
struct key {
  int frame;
  std::string op;
  double value;
};

struct showcase {
  std::string name, gallery;
  std::vector<std::vector<key>> keys;  // by parameter index
};

struct effect {
  std::string file;  // plug-in file name without .so
  std::string author, version;
  notes n;
  std::vector<parameter> params;
  std::vector<preset> presets;
  std::vector<showcase> showcases;
};

notes read_notes(const std::string& path);

// The plug-in at `so` and NOTES_DIR/NAME.editors, checked against each other
// and the presets resolved. Throws std::runtime_error saying what is wrong.
effect load_effect(const std::string& so, const std::string& notes_dir);

// The plug-in value a display value stands for, as both editors compute it.
double plugin_value(const control& c, double display);
double display_value(const control& c, double value);

// 10^n, exact for the few decimals a control has.
double power_of_ten(int n);

// Kdenlive shows a list: a list control, a steps control, or a slider that
// says kdenlive=list.
bool kdenlive_list(const control& c);
// Kdenlive's list items as (label, stored text): a list's own items, or
// every whole value of a steps control or a slider shown as a list.
std::vector<std::pair<std::string, std::string>> kdenlive_items(const control& c);

// JavaScript string literal (QML and JSON share its syntax for our texts).
std::string js(const std::string& s);

}  // namespace editors
