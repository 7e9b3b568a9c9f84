// The engine allocates nothing: this program replaces malloc, calloc and
// realloc (which operator new reaches as well) with counting versions, and no
// call may happen while MicArray_Init and MicArray_Process run, at any
// sampling rate.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "micarray.h"
#include "scene.h"

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* p, size_t size);
}

namespace {

// Heap calls counted while armed.
bool armed = false;
long heapCalls = 0;

void* Counted(void* p) {
  if (armed) heapCalls++;
  return p;
}

}  // namespace

// The sanitizer builds bring their own allocator, which must not be replaced.
#ifndef __SANITIZE_ADDRESS__
extern "C" void* malloc(size_t size) { return Counted(__libc_malloc(size)); }
extern "C" void* calloc(size_t count, size_t size) { return Counted(__libc_calloc(count, size)); }
extern "C" void* realloc(void* p, size_t size) { return Counted(__libc_realloc(p, size)); }
#endif

namespace {

class NoHeap : public ::testing::TestWithParam<uint32> {};

TEST_P(NoHeap, InitAndProcessMakeNoHeapCall) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "the sanitizer's allocator stays in place";
#endif
  const uint32 rate = GetParam();
  const TScene scene = Scene_Default(rate, 1.0);
  const std::vector<int16_t> in = Scene_Render(&scene, kSceneBoth);
  static TMicArray engine;
  std::vector<int16_t> out(in.size() / 2);

  // The counter itself is live: malloc and new while armed are seen.
  armed = true;
  heapCalls = 0;
  free(malloc(16));
  int* volatile p = new int(1);
  delete p;
  armed = false;
  ASSERT_EQ(heapCalls, 2);

  heapCalls = 0;
  armed = true;
  MicArray_Init(&engine, rate, 0.05f, 0.07f, -15.0f, 0.9f, 0.98f);
  const size_t S = engine.lenght_step;
  for (size_t step = 0; (step + 1) * 2 * S <= in.size(); step++)
    MicArray_Process(&engine, const_cast<int16_t*>(&in[step * 2 * S]), &out[step * S]);
  armed = false;
  MicArray_Destroyed(&engine);
  EXPECT_EQ(heapCalls, 0);
}

INSTANTIATE_TEST_SUITE_P(Rates, NoHeap, ::testing::Values(8000u, 16000u, 32000u, 11025u));

}  // namespace
