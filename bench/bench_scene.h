// Benchmark input: the default two-microphone scene (a talker ahead and an
// interferer from the side), rendered once per sampling rate, and an engine
// that has already run over part of it so that every stage sees the
// statistics of a working step rather than those of silence.
#ifndef MICARRAY_BENCH_SCENE_H
#define MICARRAY_BENCH_SCENE_H

#include <vector>

#include "micarray_core.h"

// Seconds of audio the benchmarks run over.
const double kBenchSeconds = 10.0;

// Interleaved stereo samples of the default scene at the rate.
const std::vector<int16>& BenchScene(uint32 rate);

// Tuning values of the examples and reference vectors.
void BenchInit(TMicArray* engine, uint32 rate);

// Engine initialised at the rate and run over the first second of the scene.
void BenchWarmEngine(TMicArray* engine, uint32 rate);

#endif
