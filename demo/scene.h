// Synthetic two-microphone scenes: a speech-like talker straight ahead
// (reaching both microphones at once) and an interferer from the side
// (reaching microphone 1 later by spacing * sin(angle) / c). Rendering uses
// only basic IEEE arithmetic, so a scene is bit-identical on every build.
#ifndef MICARRAY_SCENE_H
#define MICARRAY_SCENE_H

#include <cstdint>
#include <vector>

enum TSceneSource { kSceneTarget = 1, kSceneInterferer = 2, kSceneBoth = 3 };

typedef struct _TScene {
  uint32_t SampleRate;
  double Seconds;
  double Spacing;          // microphone distance in metres
  double InterfererAngle;  // degrees from straight ahead
  double TargetLevel;      // peak amplitude of the talker, in 16-bit units
  double InterfererLevel;  // amplitude of the interferer, in 16-bit units
  uint32_t Seed;           // varies the interferer's partials
} TScene;

// A talker and an interferer from 60 degrees at 0.05 m spacing.
TScene Scene_Default(uint32_t sampleRate, double seconds);

// Interleaved stereo samples (microphone 0 first) of the chosen sources.
std::vector<int16_t> Scene_Render(const TScene* it, TSceneSource sources);

#endif
