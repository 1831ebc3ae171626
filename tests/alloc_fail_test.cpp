// The allocation-failure switch itself: the plug-in tests rely on it failing
// exactly the allocation they name, in every allocation function.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "alloc_fail.h"

namespace {

// Through a volatile pointer, so the compiler cannot fold malloc/free pairs.
void* (*volatile c_malloc)(size_t) = std::malloc;
void* (*volatile c_calloc)(size_t, size_t) = std::calloc;
void* (*volatile c_realloc)(void*, size_t) = std::realloc;
void* (*volatile cxx_new)(size_t) = ::operator new;
void* (*volatile cxx_new_array)(size_t) = ::operator new[];
void* (*volatile cxx_new_nothrow)(size_t, const std::nothrow_t&) = ::operator new;

TEST(alloc_fail, fails_exactly_the_nth_attempt_of_any_kind) {
  alloc_fail::scope s(3);
  void* a = c_malloc(16);
  void* b = c_calloc(4, 4);
  void* c = c_realloc(nullptr, 16);
  void* d = c_malloc(16);
  EXPECT_NE(a, nullptr);
  EXPECT_NE(b, nullptr);
  EXPECT_EQ(c, nullptr);
  EXPECT_NE(d, nullptr);
  EXPECT_EQ(alloc_fail::attempts(), 4u);
  EXPECT_EQ(alloc_fail::outstanding(), 3);
  std::free(a);
  std::free(b);
  std::free(d);
  EXPECT_EQ(alloc_fail::outstanding(), 0);
}

TEST(alloc_fail, failed_realloc_keeps_the_old_block) {
  void* block = c_malloc(8);
  ASSERT_NE(block, nullptr);
  static_cast<char*>(block)[0] = 42;
  {
    alloc_fail::scope s(1);
    EXPECT_EQ(c_realloc(block, 1 << 20), nullptr);
  }
  EXPECT_EQ(static_cast<char*>(block)[0], 42);
  std::free(block);
}

TEST(alloc_fail, operator_new_throws_and_nothrow_new_returns_null) {
  bool single_threw = false, array_threw = false;
  void* nothrow_result = nullptr;
  {
    alloc_fail::scope s(1, true);
    try {
      ::operator delete(cxx_new(4));
    } catch (const std::bad_alloc&) {
      single_threw = true;
    }
    try {
      ::operator delete[](cxx_new_array(16));
    } catch (const std::bad_alloc&) {
      array_threw = true;
    }
    nothrow_result = cxx_new_nothrow(4, std::nothrow);
  }
  EXPECT_TRUE(single_threw);
  EXPECT_TRUE(array_threw);
  EXPECT_EQ(nothrow_result, nullptr);
}

TEST(alloc_fail, untracked_allocations_are_neither_counted_nor_failed) {
  alloc_fail::fail_nth(1);
  void* p = c_malloc(8);
  EXPECT_NE(p, nullptr);
  std::free(p);
  alloc_fail::disarm();
}

}  // namespace
