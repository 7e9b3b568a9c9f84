#include "bench_scene.h"

#include <map>

#include "scene.h"

const std::vector<int16>& BenchScene(uint32 rate) {
  static std::map<uint32, std::vector<int16>> scenes;
  auto found = scenes.find(rate);
  if (found == scenes.end()) {
    const TScene scene = Scene_Default(rate, kBenchSeconds);
    found = scenes.emplace(rate, Scene_Render(&scene, kSceneBoth)).first;
  }
  return found->second;
}

void BenchInit(TMicArray* engine, uint32 rate) { MicArray_Init(engine, rate, 0.05f, 0.07f, -15.0f, 0.9f, 0.98f); }

void BenchWarmEngine(TMicArray* engine, uint32 rate) {
  const std::vector<int16>& in = BenchScene(rate);
  BenchInit(engine, rate);
  const uint32 S = engine->lenght_step;
  std::vector<int16> out(S);
  for (uint32 step = 0; step < rate / S; step++)
    MicArray_Process(engine, const_cast<int16*>(&in[step * 2 * S]), out.data());
}
