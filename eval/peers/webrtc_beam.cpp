// The WebRTC audio-processing library's two-microphone beamformer as an evaluation peer:
// a linear array of the given spacing steered to the target angle, 10 ms float chunks,
// optionally followed by the library's noise suppression. The output has the input's length.
#include <cmath>
#include <memory>

#include <webrtc/modules/audio_processing/include/audio_processing.h>

#include "peer_io.h"

static const char kUsage[] = "webrtc_beam RATE SPACING_M TARGET_DEG ns|plain IN.pcm OUT.pcm";

int main(int argc, char **argv) {
  if (argc != 7) {
    std::fprintf(stderr, "usage: %s\n", kUsage);
    return 2;
  }
  const int rate = static_cast<int>(PeerAudio_Number(argv[1], kUsage));
  const float spacing = static_cast<float>(PeerAudio_Number(argv[2], kUsage));
  const double angle = PeerAudio_Number(argv[3], kUsage) * M_PI / 180.0;
  const std::string mode = argv[4];
  if (mode != "ns" && mode != "plain") {
    std::fprintf(stderr, "mode must be ns or plain\nusage: %s\n", kUsage);
    return 2;
  }
  // Microphone 0 on +x; the angle is from broadside, positive towards microphone 0. The
  // library's azimuth is measured from the array's axis and, as measured with talkers at
  // +30 and -30 degrees, turns the other way, so broadside plus the angle steers the beam.
  std::vector<webrtc::Point> geometry = {webrtc::Point(spacing / 2, 0, 0), webrtc::Point(-spacing / 2, 0, 0)};
  webrtc::Config config;
  config.Set<webrtc::Beamforming>(new webrtc::Beamforming(
      true, geometry, webrtc::SphericalPointf(static_cast<float>(M_PI / 2 + angle), 0.f, 1.f)));
  std::unique_ptr<webrtc::AudioProcessing> apm(webrtc::AudioProcessing::Create(config));
  if (mode == "ns" && (apm->noise_suppression()->Enable(true) != webrtc::AudioProcessing::kNoError)) {
    std::fprintf(stderr, "noise suppression refused\n");
    return 1;
  }
  const webrtc::StreamConfig in_config(rate, 2), out_config(rate, 1);
  const size_t chunk = in_config.num_frames();

  TPeerAudio input = PeerAudio_Read(argv[5]);
  const size_t frames = input.frames();
  std::vector<float> left(chunk), right(chunk), out(chunk);
  std::vector<int16_t> mono;
  mono.reserve(frames + chunk);
  for (size_t start = 0; start < frames; start += chunk) {
    for (size_t i = 0; i < chunk; ++i) {  // the last chunk is completed with zeros
      const bool inside = start + i < frames;
      left[i] = inside ? input.stereo[2 * (start + i)] / 32768.0f : 0.0f;
      right[i] = inside ? input.stereo[2 * (start + i) + 1] / 32768.0f : 0.0f;
    }
    const float *src[2] = {left.data(), right.data()};
    float *dest[1] = {out.data()};
    const int status = apm->ProcessStream(src, in_config, out_config, dest);
    if (status != webrtc::AudioProcessing::kNoError) {
      std::fprintf(stderr, "processing failed (%d) at %d Hz\n", status, rate);
      return 1;
    }
    for (float x : out) mono.push_back(PeerAudio_ToInt16(x));
  }
  mono.resize(frames);
  PeerAudio_Write(argv[6], mono);
  return 0;
}
