// editordesc: writes the Kdenlive effect descriptors and the Shotcut filter
// folders from the plug-ins themselves plus docs/params/NAME.editors, so what
// the editors show cannot drift from what the plug-ins are; and tells the
// demo what its gallery renders, from the same files.
//
//   editordesc --check NOTES_DIR OUT_DIR PLUGIN.so...
//   editordesc --write NOTES_DIR OUT_DIR PLUGIN.so...
//   editordesc --gallery NOTES_DIR PLUGIN.so...
//
// For each plug-in it makes OUT_DIR/kdenlive/frei0r_NAME.xml,
// OUT_DIR/kdenlive/presets/frei0r.NAME.json and
// OUT_DIR/shotcut/NAME/{meta.qml,ui.qml}. Parameter names, order, count and
// defaults (the values a new instance reads back) come from the .so; labels,
// units, their mapping onto the plug-in's 0..1 values and the presets from
// the notes (see editors_notes.h). --check exits 1 when a committed file
// differs from what it would write; every mode refuses notes that do not fit
// the plug-in.
//
// --gallery prints one tab-separated line per preset and showcase, in the
// plug-in's own 0..1 values:
//   preset   PLUGIN  GALLERY_NAME  NAME  FILTER_PARAMS (ffmpeg's: v|v|…, y/n)
//   showcase PLUGIN  GALLERY_NAME  NAME  INDEX=KEYS … (melt's properties)
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "editor_writers.h"
#include "editors_notes.h"
#include "tool_text.h"

namespace {

using tooltext::shortest;

// ffmpeg's frei0r filter_params: every parameter by position, y or n for a
// boolean.
std::string filter_params(const editors::effect& e, const editors::preset& pr) {
  std::string s;
  for (size_t i = 0; i < e.params.size(); ++i) {
    const double v = pr.values[i].value;
    s += (i ? "|" : "") + (e.params[i].is_bool ? std::string(v >= 0.5 ? "y" : "n") : shortest(v));
  }
  return s;
}

// melt's properties by index: a value, or keys as MLT animates them.
std::string melt_properties(const editors::effect& e, const editors::showcase& s) {
  std::string out;
  for (size_t i = 0; i < e.params.size(); ++i) {
    const auto& keys = s.keys[i];
    std::string value;
    if (keys.size() == 1 && keys[0].op == "=") {
      value = shortest(keys[0].value);
    } else {
      for (const editors::key& k : keys)
        value += (value.empty() ? "" : ";") + std::to_string(k.frame) + k.op + shortest(k.value);
    }
    out += (i ? " " : "") + std::to_string(i) + "=" + value;
  }
  return out;
}

int usage() {
  std::cerr << "usage: editordesc --check|--write NOTES_DIR OUT_DIR PLUGIN.so...\n"
               "       editordesc --gallery NOTES_DIR PLUGIN.so...\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  const std::string mode = argv[1];
  try {
    if (mode == "--gallery") {
      if (argc < 4) return usage();
      for (int a = 3; a < argc; ++a) {
        const editors::effect e = editors::load_effect(argv[a], argv[2]);
        for (const editors::preset& pr : e.presets)
          std::cout << "preset\t" << e.file << "\t" << pr.gallery << "\t" << pr.name << "\t"
                    << filter_params(e, pr) << "\n";
        for (const editors::showcase& s : e.showcases)
          std::cout << "showcase\t" << e.file << "\t" << s.gallery << "\t" << s.name << "\t"
                    << melt_properties(e, s) << "\n";
      }
      return 0;
    }
    if (argc < 5 || (mode != "--check" && mode != "--write")) return usage();
    const bool write = mode == "--write";
    const std::string notes_dir = argv[2], out = argv[3];
    int differ = 0;
    for (int a = 4; a < argc; ++a) {
      const editors::effect e = editors::load_effect(argv[a], notes_dir);
      const std::string shotcut = out + "/shotcut/" + e.file;
      const std::pair<std::string, std::string> files[] = {
          {out + "/kdenlive/frei0r_" + e.file + ".xml", editors::kdenlive_descriptor(e)},
          {out + "/kdenlive/presets/frei0r." + e.file + ".json", editors::kdenlive_presets(e)},
          {shotcut + "/meta.qml", editors::shotcut_meta(e)},
          {shotcut + "/ui.qml", editors::shotcut_ui(e)}};
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
