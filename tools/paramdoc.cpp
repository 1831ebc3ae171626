// paramdoc: writes the README's parameter tables from the plug-ins
// themselves, so the documentation cannot drift from what hosts show.
//
//   paramdoc --check README.md NOTES_DIR PLUGIN.so...
//   paramdoc --write README.md NOTES_DIR PLUGIN.so...
//
// For each plug-in, the README holds a table between the lines
// "<!-- params:FILE -->" and "<!-- /params -->". Name, type, default (the
// value read back from a new instance) and explanation come from the .so;
// the last column, what a value means in the effect's own units, is the
// parameter's meaning= in NOTES_DIR/FILE.editors, the notes the editors'
// controls come from too. --check exits 1 when the README differs from what
// it would write; both modes refuse notes that do not fit the plug-in.
#include <fstream>
#include <iostream>
#include <string>

#include "editors_notes.h"
#include "tool_text.h"

namespace {

using tooltext::file_name;
using tooltext::read_file;

// As the README writes numbers: always with a point or exponent ("1.0").
std::string number(double v) {
  std::string s = tooltext::shortest(v);
  if (s.find_first_of(".en") == std::string::npos) s += ".0";
  return s;
}

std::string table(const std::string& path, const std::string& notes_dir) {
  const editors::effect e = editors::load_effect(path, notes_dir);
  std::string out =
      "| # | name | type | default | explanation | meaning |\n"
      "|---|---|---|---|---|---|\n";
  for (const editors::parameter& p : e.params)
    out += "| " + std::to_string(p.index) + " | " + p.name + " | " +
           (p.is_bool ? "bool" : "double") + " | " + number(p.value) + " | " + p.explanation +
           " | " + p.c.meaning + " |\n";
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::cerr << "usage: paramdoc --check|--write README NOTES_DIR SO...\n";
    return 2;
  }
  const std::string mode = argv[1], readme = argv[2], notes = argv[3];
  try {
    const std::string before = read_file(readme);
    std::string after = before;
    for (int a = 4; a < argc; ++a) {
      const std::string open = "<!-- params:" + file_name(argv[a]) + " -->\n";
      const std::string close = "<!-- /params -->";
      const size_t start = after.find(open);
      if (start == std::string::npos) throw std::runtime_error(readme + " has no " + open);
      const size_t body = start + open.size();
      const size_t end = after.find(close, body);
      if (end == std::string::npos) throw std::runtime_error(readme + ": unclosed " + open);
      after.replace(body, end - body, table(argv[a], notes));
    }
    if (mode == "--write") {
      if (after != before) std::ofstream(readme) << after;
      return 0;
    }
    if (after != before) {
      std::cerr << readme << " disagrees with the plug-ins; run "
                << "paramdoc --write (scripts/update-docs.sh)\n";
      return 1;
    }
    std::cout << readme << " matches " << argc - 4 << " plug-ins\n";
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "paramdoc: " << e.what() << "\n";
    return 1;
  }
}
