// SpeexDSP's preprocessor as an evaluation peer: single-microphone noise suppression of
// microphone 0 in 20 ms frames, with the library's default suppression depth. The output
// has the input's length.
#include <speex/speex_preprocess.h>

#include "peer_io.h"

static const char kUsage[] = "speex_denoise RATE IN.pcm OUT.pcm";
static const int kFramesPerSecond = 50;  // 20 ms frames, the preprocessor's usual size

int main(int argc, char **argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s\n", kUsage);
    return 2;
  }
  const int rate = static_cast<int>(PeerAudio_Number(argv[1], kUsage));
  const int chunk = rate / kFramesPerSecond;
  SpeexPreprocessState *state = speex_preprocess_state_init(chunk, rate);
  int on = 1;
  speex_preprocess_ctl(state, SPEEX_PREPROCESS_SET_DENOISE, &on);

  TPeerAudio input = PeerAudio_Read(argv[2]);
  const size_t frames = input.frames();
  std::vector<int16_t> mono(frames + chunk, 0);
  for (size_t i = 0; i < frames; ++i) mono[i] = input.stereo[2 * i];
  for (size_t start = 0; start < frames; start += chunk) speex_preprocess_run(state, &mono[start]);
  speex_preprocess_state_destroy(state);
  mono.resize(frames);
  PeerAudio_Write(argv[3], mono);
  return 0;
}
