// paramdoc: writes the README's parameter tables from the plug-ins
// themselves, so the documentation cannot drift from what hosts show.
//
//   paramdoc --check README.md MEANINGS_DIR PLUGIN.so...
//   paramdoc --write README.md MEANINGS_DIR PLUGIN.so...
//
// For each plug-in, the README holds a table between the lines
// "<!-- params:FILE -->" and "<!-- /params -->". Name, type, default (the
// value read back from a new instance) and explanation come from the .so;
// the last column, what a value means in the effect's own units, comes from
// MEANINGS_DIR/FILE.txt, one "Parameter name<TAB>meaning" line each. --check
// exits 1 when the README differs from what it would write, or when a
// parameter has no meaning or a meaning names no parameter.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "plugin_host.h"
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

std::string table(const std::string& path, const std::string& meanings_dir) {
  testhost::plugin p(path);
  const std::string file = file_name(path);
  std::map<std::string, std::string> meaning;
  {
    std::istringstream lines(read_file(meanings_dir + "/" + file + ".txt"));
    std::string line;
    while (std::getline(lines, line)) {
      const size_t tab = line.find('\t');
      if (line.empty() || line[0] == '#') continue;
      if (tab == std::string::npos) throw std::runtime_error(file + ".txt: no tab in: " + line);
      meaning[line.substr(0, tab)] = line.substr(tab + 1);
    }
  }
  testhost::instance inst = p.construct(64, 64);
  std::string out =
      "| # | name | type | default | explanation | meaning |\n"
      "|---|---|---|---|---|---|\n";
  for (int i = 0; i < p.info().num_params; ++i) {
    const f0r_param_info_t pi = p.param_info(i);
    auto m = meaning.find(pi.name);
    if (m == meaning.end()) throw std::runtime_error(file + ": no meaning for \"" + pi.name + "\"");
    out += "| " + std::to_string(i) + " | " + pi.name + " | " +
           (pi.type == F0R_PARAM_BOOL ? "bool" : "double") + " | " + number(inst.get(i)) + " | " +
           pi.explanation + " | " + m->second + " |\n";
    meaning.erase(m);
  }
  if (!meaning.empty())
    throw std::runtime_error(file + ": meaning for unknown parameter \"" + meaning.begin()->first +
                             "\"");
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::cerr << "usage: paramdoc --check|--write README MEANINGS_DIR SO...\n";
    return 2;
  }
  const std::string mode = argv[1], readme = argv[2], meanings = argv[3];
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
      after.replace(body, end - body, table(argv[a], meanings));
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
