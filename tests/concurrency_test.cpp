// Hosts call from many threads: GStreamer starts each element in its own
// streaming thread, MLT keeps an instance per render thread, and a user
// interface reads the parameter descriptions while a render thread builds
// instances. The API allows info and construction calls at any time and
// calls on different instances at once. Here several threads construct
// instances of differing sizes (and refused ones), set parameters, update in
// place and with separate buffers and destruct, while another thread reads
// the descriptions and the texts they point to.
//
// Every worker's outputs must be exactly what the same work gives on one
// thread alone, and every text must read as it did before the threads
// started. Built with ThreadSanitizer too, where any data race fails it.
#include <gtest/gtest.h>

#include <atomic>
#include <iterator>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "plugin_host.h"

namespace {

using testhost::frame;
using testhost::plugin;

constexpr int workers = 4;
// Each round constructs an instance. Under AddressSanitizer a kestrune
// construction takes seconds (the runtime poisons the 1 GiB history it sets
// aside), and the sanitizer sees a race's freed or moved memory on its first
// touch anyway; a release build needs many rounds to crash reliably.
#ifdef __SANITIZE_ADDRESS__
constexpr int rounds = 1;
#else
constexpr int rounds = 24;
#endif
constexpr int frames_per_round = 6;

struct frame_size {
  unsigned width, height;
};
constexpr frame_size sizes[] = {{8, 6}, {37, 23}, {64, 2}, {1, 1}, {16, 16}, {3, 50}};

uint64_t fnv1a(uint64_t h, const frame& f) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(f.data());
  for (size_t i = 0; i < f.size() * sizeof f[0]; ++i) h = (h ^ bytes[i]) * 0x100000001B3ull;
  return h;
}

// A parameter value for (worker, round, index), inside 0..1 or now and then
// outside it.
double param_value(int worker, int round, int index) {
  const unsigned k = unsigned(worker * 131 + round * 17 + index * 7);
  if (k % 11 == 0) return 2.5;
  if (k % 13 == 0) return -1.0;
  return double(k % 97) / 96.0;
}

// One worker's script: a checksum of every output it produced.
uint64_t work(const plugin& p, int worker) {
  const int params = p.info().num_params;
  uint64_t h = 0xCBF29CE484222325ull;
  for (int round = 0; round < rounds; ++round) {
    const frame_size s = sizes[(worker + round) % std::size(sizes)];
    if (p.f0r().construct(0, s.height) != nullptr) return 0;
    auto inst = p.construct(s.width, s.height);
    if (!inst.valid()) return 0;
    for (int i = 0; i < params; ++i) inst.set(i, param_value(worker, round, i));
    for (int f = 0; f < frames_per_round; ++f) {
      frame in =
          testhost::random_frame(inst.pixel_count(), uint64_t(worker) << 32 | round << 8 | f);
      const double time = 0.04 * f;
      if ((f + worker) % 2) {
        inst.update_in_place(time, in);
        h = fnv1a(h, in);
      } else {
        h = fnv1a(h, inst.update(time, in));
      }
    }
    for (int i = 0; i < params; ++i) {
      const double v = inst.get(i);
      uint32_t halves[2];
      std::memcpy(halves, &v, sizeof v);
      h = fnv1a(h, frame{halves[0], halves[1]});
    }
  }
  return h;
}

struct description {
  std::string name, author, explanation;
  int num_params = 0;
  std::vector<std::string> param_names, param_explanations;
  std::vector<int> param_types;
};

description read_description(const plugin& p) {
  description d;
  const f0r_plugin_info_t info = p.info();
  d.name = info.name;
  d.author = info.author;
  d.explanation = info.explanation;
  d.num_params = info.num_params;
  for (int i = 0; i < info.num_params; ++i) {
    const f0r_param_info_t pi = p.param_info(i);
    d.param_names.push_back(pi.name);
    d.param_explanations.push_back(pi.explanation);
    d.param_types.push_back(pi.type);
  }
  return d;
}

bool same(const description& a, const description& b) {
  return a.name == b.name && a.author == b.author && a.explanation == b.explanation &&
         a.num_params == b.num_params && a.param_names == b.param_names &&
         a.param_explanations == b.param_explanations && a.param_types == b.param_types;
}

std::string test_name(const testing::TestParamInfo<std::string>& info) {
  std::string name = info.param.substr(info.param.find_last_of('/') + 1);
  return name.substr(0, name.find('.'));
}

class concurrency : public testing::TestWithParam<std::string> {
 protected:
  plugin p{GetParam()};
};

TEST_P(concurrency, threads_construct_update_and_destruct_while_one_reads_descriptions) {
  const description expected_description = read_description(p);
  uint64_t expected[workers];
  for (int w = 0; w < workers; ++w) expected[w] = work(p, w);

  std::atomic<int> started{0};
  std::atomic<int> finished{0};
  std::atomic<long> reads{0};
  std::atomic<long> wrong_reads{0};
  uint64_t got[workers] = {};

  std::thread reader([&] {
    ++started;
    while (started.load() < workers + 1) {
    }
    do {
      if (!same(read_description(p), expected_description)) ++wrong_reads;
      ++reads;
    } while (finished.load() < workers);
  });
  std::vector<std::thread> threads;
  for (int w = 0; w < workers; ++w) {
    threads.emplace_back([&, w] {
      ++started;
      while (started.load() < workers + 1) {
      }
      got[w] = work(p, w);
      ++finished;
    });
  }
  for (auto& t : threads) t.join();
  reader.join();

  for (int w = 0; w < workers; ++w) {
    EXPECT_NE(got[w], 0u) << "worker " << w << " could not construct";
    EXPECT_EQ(got[w], expected[w]) << "worker " << w;
  }
  EXPECT_GT(reads.load(), 0);
  EXPECT_EQ(wrong_reads.load(), 0) << "of " << reads.load() << " reads";
}

INSTANTIATE_TEST_SUITE_P(plugins, concurrency, testing::ValuesIn(testhost::all_plugin_paths()),
                         test_name);

}  // namespace
