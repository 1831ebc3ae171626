// The Mach-O loader itself: what it runs of a library (initialisers,
// rebases, imports bound to this process, destructors at close), how it
// finds exports, and that a damaged, foreign or unsupported file fails with
// its reason instead of crashing. On a small library of its own (the
// fixture, tests/macho_fixture.cpp) and on copies of the macOS vestrale,
// whole or altered.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "alloc_fail.h"
#include "macho_loader.h"

namespace {

using bytes = std::vector<uint8_t>;

#if defined(__aarch64__)
constexpr uint32_t own_cpu = 0x0100000c, other_cpu = 0x01000007;
const char own_name[] = "arm64";
const char other_name[] = "x86_64";
#else
constexpr uint32_t own_cpu = 0x01000007, other_cpu = 0x0100000c;
const char own_name[] = "x86_64";
const char other_name[] = "arm64";
#endif

bytes read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

uint32_t be32(const bytes& b, size_t at) {
  return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}
uint32_t le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// A universal file's slice: where its entry and its bytes are.
struct slice {
  size_t entry, offset, size;
};
slice find_slice(const bytes& universal, uint32_t cpu) {
  if (universal.size() < 8 || be32(universal, 0) != 0xcafebabeu) return {0, 0, 0};
  for (uint32_t i = 0; i < be32(universal, 4); ++i) {
    const size_t e = 8 + 20 * size_t(i);
    if (be32(universal, e) == cpu) return {e, be32(universal, e + 8), be32(universal, e + 12)};
  }
  return {0, 0, 0};
}

// Writes `content` to a file of its own, removed with the object.
class temp_file {
 public:
  explicit temp_file(const bytes& content) {
    char name[] = "/tmp/macho-test-XXXXXX";
    const int fd = mkstemp(name);
    if (fd >= 0) close(fd);
    path_ = name;
    std::ofstream(path_, std::ios::binary)
        .write(reinterpret_cast<const char*>(content.data()), std::streamsize(content.size()));
  }
  ~temp_file() { std::remove(path_.c_str()); }
  temp_file(const temp_file&) = delete;
  temp_file& operator=(const temp_file&) = delete;
  const char* path() const { return path_.c_str(); }

 private:
  std::string path_;
};

// Loads `content`; returns the failure message, or "loaded" (closing the
// image again).
std::string load_result(const bytes& content) {
  temp_file f(content);
  void* h = macho_dlopen(f.path());
  if (h) {
    macho_dlclose(h);
    return "loaded";
  }
  const char* why = macho_dlerror();
  return why ? why : "(no message)";
}

// Every message names the file; this is what follows the name.
std::string reason(const std::string& message) {
  const size_t colon = message.find(": ");
  return colon == std::string::npos ? message : message.substr(colon + 2);
}

template <typename T>
T function(void* handle, const char* name) {
  void* s = macho_dlsym(handle, name);
  T f;
  static_assert(sizeof f == sizeof s, "function and object pointers differ");
  std::memcpy(&f, &s, sizeof f);
  return f;
}

int exit_value = 0;
void note_exit(int v) { exit_value = v; }
int other_exit_value = 0;
void note_other_exit(int v) { other_exit_value = v; }

class fixture_library : public testing::Test {
 protected:
  void SetUp() override {
    if (std::string(MACHO_FIXTURE).empty()) GTEST_SKIP() << "no fixture library in this build";
  }
};

TEST_F(fixture_library, runs_initialisers_binds_to_this_process_and_destructs_at_close) {
  void* h = nullptr;
  {
    // The initialiser's malloc is the test program's: counted here.
    alloc_fail::counting count;
    h = macho_dlopen(MACHO_FIXTURE);
    ASSERT_NE(h, nullptr) << macho_dlerror();
    EXPECT_EQ(alloc_fail::attempts(), 1u);
    EXPECT_EQ(alloc_fail::outstanding(), 1);
  }
  auto value = function<int (*)()>(h, "fixture_value");
  auto on_exit = function<void (*)(void (*)(int))>(h, "fixture_on_exit");
  ASSERT_NE(value, nullptr);
  ASSERT_NE(on_exit, nullptr);
  EXPECT_EQ(value(), 45);

  // A second image of the same file is a library of its own.
  void* second = macho_dlopen(MACHO_FIXTURE);
  ASSERT_NE(second, nullptr) << macho_dlerror();
  function<void (*)(void (*)(int))>(second, "fixture_on_exit")(note_other_exit);
  on_exit(note_exit);
  exit_value = other_exit_value = 0;
  EXPECT_EQ(macho_dlclose(second), 0);
  EXPECT_EQ(other_exit_value, 42);
  EXPECT_EQ(exit_value, 0);
  EXPECT_EQ(value(), 45);
  {
    alloc_fail::counting count;
    EXPECT_EQ(macho_dlclose(h), 0);
    EXPECT_EQ(exit_value, 42);
    EXPECT_EQ(alloc_fail::outstanding(), -1);  // the initialiser's block
  }
}

TEST_F(fixture_library, an_initialiser_whose_allocation_fails_runs_and_the_library_loads) {
  alloc_fail::scope s(1);
  void* h = macho_dlopen(MACHO_FIXTURE);
  ASSERT_NE(h, nullptr) << macho_dlerror();
  EXPECT_EQ(function<int (*)()>(h, "fixture_value")(), -1);
  EXPECT_EQ(macho_dlclose(h), 0);
}

// The initialiser's pointer turned to the pointer itself, in data: the load
// fails rather than jumping there.
TEST_F(fixture_library, an_initialiser_outside_the_code_fails_the_load) {
  const bytes universal = read_file(MACHO_FIXTURE);
  const slice own = find_slice(universal, own_cpu);
  ASSERT_GT(own.size, 0u);
  bytes thin(universal.begin() + long(own.offset), universal.begin() + long(own.offset + own.size));
  size_t c = 32;
  int changed = 0;
  for (uint32_t i = 0; i < le32(&thin[16]); ++i) {
    if (le32(&thin[c]) == 0x19)
      for (uint32_t k = 0; k < le32(&thin[c + 64]); ++k) {
        const uint8_t* sect = &thin[c + 72 + 80 * k];
        if ((sect[64] & 0xff) != 0x9) continue;             // S_MOD_INIT_FUNC_POINTERS
        std::memcpy(&thin[le32(sect + 48)], sect + 32, 8);  // its own address
        ++changed;
      }
    c += le32(&thin[c + 4]);
  }
  ASSERT_EQ(changed, 1);
  EXPECT_EQ(reason(load_result(thin)), "initialiser outside the code");
}

TEST_F(fixture_library, finds_exports_by_their_whole_c_name_only) {
  void* h = macho_dlopen(MACHO_FIXTURE);
  ASSERT_NE(h, nullptr) << macho_dlerror();
  EXPECT_NE(macho_dlsym(h, "fixture_value"), nullptr);
  EXPECT_EQ(macho_dlerror(), nullptr);
  for (const char* wrong :
       {"_fixture_value", "fixture_valu", "fixture_value_", "fixture_", "", "malloc"}) {
    EXPECT_EQ(macho_dlsym(h, wrong), nullptr) << wrong;
    const char* why = macho_dlerror();
    ASSERT_NE(why, nullptr) << wrong;
    EXPECT_EQ(std::string(why), std::string("symbol ") + wrong + " not found");
    EXPECT_EQ(macho_dlerror(), nullptr);  // told once
  }
  EXPECT_EQ(macho_dlclose(h), 0);
  EXPECT_EQ(macho_dlclose(h), -1);
  EXPECT_NE(macho_dlerror(), nullptr);
}

class damaged_plugin : public testing::Test {
 protected:
  void SetUp() override {
    universal = read_file(MACHO_PLUGIN);
    ASSERT_GT(universal.size(), 4096u) << MACHO_PLUGIN;
    own = find_slice(universal, own_cpu);
    other = find_slice(universal, other_cpu);
    ASSERT_GT(own.size, 0u) << "no " << own_name << " slice";
    ASSERT_GT(other.size, 0u) << "no " << other_name << " slice";
    thin = bytes(universal.begin() + long(own.offset),
                 universal.begin() + long(own.offset + own.size));
  }

  bytes universal, thin;
  slice own{}, other{};
};

TEST_F(damaged_plugin, the_whole_files_load) {
  EXPECT_EQ(load_result(universal), "loaded");
  EXPECT_EQ(load_result(thin), "loaded");
}

TEST_F(damaged_plugin, truncated_files_fail_with_their_reason) {
  auto cut = [](const bytes& b, size_t n) { return bytes(b.begin(), b.begin() + long(n)); };
  EXPECT_EQ(reason(load_result(cut(universal, 0))), "empty or unreadable");
  EXPECT_EQ(reason(load_result(cut(universal, 7))), "too short for a Mach-O file");
  EXPECT_EQ(reason(load_result(cut(universal, 27))), "truncated table of slices");
  EXPECT_EQ(reason(load_result(cut(universal, own.offset + own.size - 1))),
            std::string("the ") + own_name + " slice lies past the end of the file");
  EXPECT_EQ(reason(load_result(cut(thin, 31))), "truncated Mach-O header");
  EXPECT_EQ(reason(load_result(cut(thin, 200))), "load commands past the end of the file");
  EXPECT_EQ(reason(load_result(cut(thin, thin.size() - 1))),
            "segment __LINKEDIT lies outside the file");
}

TEST_F(damaged_plugin, code_for_another_processor_fails_naming_both) {
  const bytes foreign(universal.begin() + long(other.offset),
                      universal.begin() + long(other.offset + other.size));
  EXPECT_EQ(reason(load_result(foreign)),
            std::string("code for ") + other_name + ", not " + own_name);

  bytes without_own = universal;
  without_own[own.entry + 3] = 0x12;  // CPU type 0x01000012: none of ours
  EXPECT_EQ(reason(load_result(without_own)),
            std::string("no ") + own_name + " slice (has " +
                (own.entry < other.entry ? std::string("another processor, ") + other_name
                                         : std::string(other_name) + ", another processor") +
                ")");

  bytes not_macho = thin;
  std::memcpy(not_macho.data(),
              "\x7f"
              "ELF",
              4);
  EXPECT_EQ(reason(load_result(not_macho)), "not a Mach-O file");
}

// The import's name in the bind information, right after the opcode that
// sets it: renamed, it is an import the table does not have.
TEST_F(damaged_plugin, an_import_not_on_the_list_fails_naming_it) {
  bytes renamed = thin;
  const std::string name = std::string("_calloc") + '\0';
  int found = 0;
  for (size_t i = 1; i + name.size() <= renamed.size(); ++i)
    if ((renamed[i - 1] & 0xf0) == 0x40 &&
        std::memcmp(&renamed[i], name.data(), name.size()) == 0) {
      renamed[i + 6] = 'x';
      ++found;
    }
  ASSERT_GT(found, 0) << "vestrale imports calloc";
  EXPECT_EQ(reason(load_result(renamed)), "unresolved import _callox");
}

// Every byte of the header and the load commands, and of the rebase and
// bind information, in turn inverted: each copy either loads or fails with a
// message, and none crashes the loader. The initialisers are made an
// ordinary section first, and section types stay as they are: code run from
// a damaged image may rightly crash. Damage to the export trie shows only
// when a name is looked up: every 16th byte of it inverted, the entry points
// are looked up.
TEST_F(damaged_plugin, any_damaged_byte_of_its_structure_fails_cleanly_or_loads) {
  const uint32_t ncmds = le32(&thin[16]), sizeofcmds = le32(&thin[20]);
  std::vector<bool> keep(32 + sizeofcmds, false);
  std::vector<std::pair<size_t, size_t>> ranges = {{0, 32 + sizeofcmds}};
  size_t trie = 0, trie_size = 0;
  size_t c = 32;
  for (uint32_t i = 0; i < ncmds; ++i) {
    const uint32_t cmd = le32(&thin[c]), size = le32(&thin[c + 4]);
    if (cmd == 0x19)
      for (uint32_t k = 0; k < le32(&thin[c + 64]); ++k) {
        const size_t flags = c + 72 + 80 * k + 64;
        if (thin[flags] == 0x9) thin[flags] = 0;  // S_MOD_INIT_FUNC_POINTERS
        for (size_t b = 0; b < 4; ++b) keep[flags + b] = true;
      }
    if (cmd == 0x80000022u) {
      for (size_t field : {8, 16, 32})  // rebase, bind, lazy bind
        ranges.push_back(
            {le32(&thin[c + field]), le32(&thin[c + field]) + le32(&thin[c + field + 4])});
      trie = le32(&thin[c + 40]);
      trie_size = le32(&thin[c + 44]);
    }
    c += size;
  }
  ASSERT_GT(trie_size, 0u);
  int loaded = 0, failed = 0;
  for (auto [begin, end] : ranges)
    for (size_t at = begin; at < end && at < thin.size(); ++at) {
      if (at < keep.size() && keep[at]) continue;
      bytes damaged = thin;
      damaged[at] ^= 0xff;
      const std::string result = load_result(damaged);
      ASSERT_NE(result, "(no message)") << at;
      (result == "loaded" ? loaded : failed)++;
    }
  // Names, versions, padding and what the loader does not use may be
  // anything (some 1,400 bytes of vestrale's); the rest may not.
  EXPECT_GT(failed, 0) << failed << " failed, " << loaded << " loaded";

  int lost = 0;
  for (size_t at = trie; at < trie + trie_size; at += 16) {
    bytes damaged = thin;
    damaged[at] ^= 0xff;
    temp_file f(damaged);
    void* h = macho_dlopen(f.path());
    ASSERT_NE(h, nullptr) << at << ": " << macho_dlerror();
    for (const char* name : {"f0r_init", "f0r_construct", "f0r_update", "f0r_destruct"})
      if (!macho_dlsym(h, name)) ++lost;
    macho_dlclose(h);
  }
  EXPECT_GT(lost, 0);
}

}  // namespace
