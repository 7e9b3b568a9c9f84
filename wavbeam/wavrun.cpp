#include "wavrun.h"

#include <stdio.h>

#include <string>
#include <vector>

#include "micarray.h"
#include "wav.h"

namespace {

const char* const kMessageRead = "Couldn't read input file";
const char* const kMessageWrite = "Couldn't Write File";

const unsigned short kInputChannels = 2;  // microphone 0, microphone 1
const unsigned short kOutputChannels = 1;
const unsigned short kMaxPcmFormat = 1;   // format tags 0 and 1 hold linear PCM
const unsigned short kSampleBits = 16;
const unsigned int kBytesPerSample = 2;
const unsigned int kMaxSampleRate = 32000;
int Fail(const char* message) {
  puts(message);
  return 1;
}

// Why the input cannot be processed, or nullptr when it can.
const char* InputRefusal(const WAV_HEADER& h) {
  if (h.Channels != kInputChannels) return "Input file must be Stereo channels format";
  if (h.AudioFormat > kMaxPcmFormat || h.BitsPerSample != kSampleBits)
    return "Input file must be Windows PCM 16 bits linear format.";
  if (h.SampleRate > kMaxSampleRate) return "Sampling rate for input file must be <= 32 kHz";
  // No reader takes a file of rate 0, which the output would be.
  if (h.SampleRate == 0) return "Sampling rate for input file must not be 0";
  return nullptr;
}

// The mono header announced before the run: the input's sample frames of
// four bytes become output frames of two bytes.
WAV_HEADER OutputHeader(const WAV_HEADER& in) {
  WAV_HEADER out = in;
  out.Channels = kOutputChannels;
  out.BlockAlign = kOutputChannels * kBytesPerSample;
  out.ByteRate = out.BlockAlign * in.SampleRate;
  out.DataSize = kBytesPerSample * (in.DataSize / (kInputChannels * kBytesPerSample));
  return out;
}

// Bytes of sample data to read: the data chunk, or the rest of the file.
unsigned long long DataBudget(const WAV_HEADER& in) { return in.DataToEnd ? ~0ull : in.DataSize; }

// Header, engine run step by step, corrected header; 0 or an exit status
// after printing the reason. The output is kept only after a complete run.
int Process(FILE* in, THostOutput* output, const WAV_HEADER& inHeader, const micarray::Tuning& tuning) {
  FILE* out = output->file;
  WAV_HEADER outHeader = OutputHeader(inHeader);
  bool written = outHeader.SaveToFile(out);

  TMicArray engine;
  MicArray_Init(&engine, inHeader.SampleRate, tuning.distance, tuning.speed, tuning.suppression, tuning.noise_rate,
                tuning.musical);
  const size_t step = engine.lenght_step;
  std::vector<int16> inpbuf(kInputChannels * step, 0);
  std::vector<int16> outbuf(step, 0);
  const size_t stepBytes = inpbuf.size() * kBytesPerSample;

  puts("Detection ...");
  // A short final step is dropped; bytes after the data chunk are not audio.
  unsigned long long budget = DataBudget(inHeader);
  unsigned long frames = 0;
  while (written && budget >= stepBytes && WAV_ReadSamples(in, inpbuf.data(), inpbuf.size()) == inpbuf.size()) {
    budget -= stepBytes;
    MicArray_Process(&engine, inpbuf.data(), outbuf.data());
    written = WAV_WriteSamples(out, outbuf.data(), step);
    frames += step;
  }
  const bool readFailed = ferror(in) != 0;

  if (written && !readFailed) {
    printf("Sampling rate: %d Hz\n", (int)inHeader.SampleRate);
    // Same length as the first header, so it replaces it in place.
    outHeader.DataSize = (unsigned int)(kBytesPerSample * frames);
    written = fseek(out, 0L, SEEK_SET) == 0 && outHeader.SaveToFile(out);
  }

  MicArray_Destroyed(&engine);
  fclose(in);
  if (written && !readFailed)
    written = HostOutput_Commit(output);
  else
    HostOutput_Abandon(output);
  if (readFailed) return Fail(kMessageRead);
  if (!written) return Fail(kMessageWrite);
  return 0;
}

}  // namespace

int WavRun_Process(const micarray::Tuning* tuning, const char* inpFile, const char* outFile) {
  FILE* in = fopen(inpFile, "rb");
  if (!in) return Fail(kMessageRead);
  // Everything about the input is checked before the output is created.
  WAV_HEADER inHeader;
  const char* refusal = nullptr;
  std::string unknown;
  try {
    inHeader.LoadFromFile(in);
    refusal = InputRefusal(inHeader);
  } catch (const std::string& e) {
    unknown = "Input file: " + e;
    // A header cut short by a read error (a directory, a failing device) is
    // not a format question.
    refusal = ferror(in) ? kMessageRead : unknown.c_str();
  }
  if (refusal) {
    fclose(in);
    return Fail(refusal);
  }

  THostOutput out;
  if (!HostOutput_Open(&out, outFile)) {
    fclose(in);
    return Fail(kMessageWrite);
  }
  return Process(in, &out, inHeader, *tuning);
}
