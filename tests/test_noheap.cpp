// The engines allocate nothing: malloc, calloc and realloc (which operator new
// reaches too) count their calls, and none may happen in MicArray_Init or
// _Process, nor in MvdrArray_Init or _Process.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "micarray.h"
#include "mvdr.h"
#include "support.h"

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* p, size_t size);
}

// Heap calls counted while armed.
static bool armed = false;
static long heapCalls = 0;

static void* Counted(void* p) {
  if (armed) heapCalls++;
  return p;
}

// The sanitizer builds bring their own allocator, which must not be replaced.
#ifndef __SANITIZE_ADDRESS__
extern "C" void* malloc(size_t size) { return Counted(__libc_malloc(size)); }
extern "C" void* calloc(size_t count, size_t size) { return Counted(__libc_calloc(count, size)); }
extern "C" void* realloc(void* p, size_t size) { return Counted(__libc_realloc(p, size)); }
#endif

// Heap calls made by `run` (init and process of one engine) once the
// counter is shown to be live: malloc and new are seen.
template <class F>
long HeapCallsOf(F run) {
  heapCalls = 0;
  armed = true;
  free(malloc(16));
  int* volatile p = new int(1);
  delete p;
  EXPECT_EQ(heapCalls, 2);
  heapCalls = 0;
  run();
  armed = false;
  return heapCalls;
}

TEST(NoHeap, InitAndProcessMakeNoHeapCall) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "the sanitizer's allocator stays in place";
#endif
  for (uint32 rate : {8000u, 11025u, 16000u, 32000u, 44100u, 48000u}) {
    std::vector<int16_t> in = Scene(rate, 1.0), out(in.size() / 2);
    if (rate <= 32000) {
      static TMicArray engine;
      EXPECT_EQ(HeapCallsOf([&] {
                  MicArray_Init(&engine, rate, 0.05f, 0.07f, -15.0f, 0.9f, 0.98f);
                  for (size_t step = 0, S = engine.lenght_step; (step + 1) * 2 * S <= in.size(); step++)
                    MicArray_Process(&engine, &in[step * 2 * S], &out[step * S]);
                }),
                0)
          << "classic " << rate;
      MicArray_Destroyed(&engine);
    }
    if (rate == 11025) continue;
    std::vector<unsigned char> memory(MvdrArray_Size(rate));
    EXPECT_EQ(HeapCallsOf([&] {
                TMvdrArray* engine = MvdrArray_Init(memory.data(), rate, 0.05f, 0.0f, -12.0f);
                for (size_t hop = 0, H = MvdrArray_Hop(engine); (hop + 1) * 2 * H <= in.size(); hop++)
                  MvdrArray_Process(engine, &in[hop * 2 * H], &out[hop * H]);
              }),
              0)
        << "mvdr " << rate;
  }
}
