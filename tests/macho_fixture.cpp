// A small macOS library for the Mach-O loader's own test, built by
// scripts/macos-test.sh for both slices: an initialiser that allocates, a
// destructor registered with __cxa_atexit, and a pointer the loader must
// rebase. Compiled as C++ without its library (zig cc), so that it imports
// only malloc, free and __cxa_atexit.
#include <stdlib.h>

namespace {

int* block;
void (*on_exit_function)(int) = nullptr;

struct holder {
  holder() {
    block = static_cast<int*>(malloc(sizeof(int)));
    if (block) *block = 42;
  }
  ~holder() {
    if (on_exit_function) on_exit_function(block ? *block : -1);
    free(block);
  }
} the_holder;

const int table[] = {1, 2, 3};
int const* volatile table_entry = table + 2;

}  // namespace

// 42 from the initialiser plus 3 through the rebased pointer; -1 if the
// initialiser has not run or its allocation failed.
extern "C" __attribute__((visibility("default"))) int fixture_value() {
  return block ? *block + *table_entry : -1;
}

// `f` is called with 42 when the library's destructors run.
extern "C" __attribute__((visibility("default"))) void fixture_on_exit(void (*f)(int)) {
  on_exit_function = f;
}
