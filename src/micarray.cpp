// The engine: configuration from the sampling rate, lifecycle of the stage
// records, and the per-step pipeline with all time-domain processing.
#include "micarray_core.h"
#include "uperation.h"
#include "vector.h"

using micarray_core::Core;

const TProductInfo MicArray_Info = {
    "Duet Beam - two-microphone speech enhancement engine",
    "Version 2.70",
    "Copyright (c) 2026 Pairwise Acoustics Lab",
};

namespace {

const mfloat kPreEmphasis = -0.8f;  // x[k] + (-0.8) x[k-1]: lifts high frequencies before analysis
const mfloat kDeEmphasis = 0.8f;    // y[k] + 0.8 y[k-1]: the inverse of the pre-emphasis
const mfloat kSmoothing = 0.5f;     // equal weights of this and the previous direction-match value
const mfloat kDtdThreshold = 0.98f; // similarity above which a blocking filter's error resembles the beam
const mfloat kOutputLimit = 32767.0f;
const uint32 kDtdCoefficients = 4;  // low DCT coefficients the double-talk detectors compare

// Interleaved stereo pairs as the two microphones' samples in float, one
// pair per lane of V: read as a 32-bit integer, a pair holds microphone 0 in
// its low half (the byte order of every target here), and shifts
// sign-extend either half (no shuffle of 16-bit lanes, which SSE2 lacks).
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "pairs read as 32-bit lanes");
template <typename V>
VEC_INLINE void Samples(const int16* pairs, V* mic0, V* mic1) {
  typedef typename TVecLanes<sizeof(V) / sizeof(float)>::I I;
  typedef unsigned U __attribute__((vector_size(sizeof(V))));
  I v;
  __builtin_memcpy(&v, pairs, sizeof v);
  *mic0 = __builtin_convertvector((I)((U)v << 16) >> 16, V);
  *mic1 = __builtin_convertvector(v >> 16, V);
}

uint32 SetFrameSize(micarray_core::TMicArray* it, uint32 SamplingRate) {
  it->SampleRate = SamplingRate;
  const TFramePlan* plan = FramePlan_ForRate(SamplingRate);
  it->lenght_step = plan->step;
  it->lenght_frame = plan->frame;
  it->maxFbin = plan->bins;
  it->offset_wn = (int16)plan->window;
  return it->lenght_frame;
}

// Analysis: shift each microphone's raw history by one step, append the
// new samples, pre-emphasise, window and transform; dYb collects the mean of
// the windowed time frames. The histories are interleaved like the input, so
// the shift and the append are one contiguous copy each, and the time-domain
// arithmetic runs on eight samples of both microphones at a time (lane by
// lane the operations of one sample).
template <TVecLevel kLevel>
VEC_INLINE void AnalyseFrames(micarray_core::TMicArray* it, const int16* inpbuf) {
  static_assert(kMaxMics == 2, "the analysis reads interleaved pairs");
  const uint32 N = it->lenght_frame, S = it->lenght_step, F = it->maxFbin, M = it->sizeMic;
  const float* w = winTable32f + it->offset_wn;
  int16* hist = it->frameMic;
  CopyMem16i(hist, 1, hist + S * M, 1, (N - S) * M);
  CopyMem16i(hist + (N - S) * M, 1, inpbuf, 1, S * M);
  float second[kMaxFrame];
  mfloat* frames[kMaxMics] = {it->buff, second};
  // The memory is the newest sample of the previous frame, so the first
  // pre-emphasised value pairs x[0] with a sample three steps later.
  // One register of samples at a time.
  constexpr uint32 L = Vec_Floats(kLevel);
  typedef typename TVecLanes<L>::F V;
  int16 lead[2 * L] = {it->pre_emphasis[0], it->pre_emphasis[1]};
  for (uint32 k = 2; k < 2 * L; k++) lead[k] = hist[k - 2];
  const V emphasis = V{} + kPreEmphasis;
  for (uint32 k = 0; k < N; k += L) {
    V x0, x1, p0, p1;
    Samples(hist + k * M, &x0, &x1);
    Samples(k == 0 ? lead : hist + (k - 1) * M, &p0, &p1);
    const V wk = Vec_Load<V>(w + k);
    const V b0 = (x0 + emphasis * p0) * wk;
    const V b1 = (x1 + emphasis * p1) * wk;
    const V mean = (V{} + b0) + b1;  // the sum starts at +0
    Vec_Store(frames[0] + k, b0);
    Vec_Store(frames[1] + k, b1);
    Vec_Store(it->dYb + k, mean);
  }
  for (uint32 m = 0; m < M; m++) it->pre_emphasis[m] = hist[(N - 1) * M + m];
  umem_div(it->dYb, (mfloat)M, N);
  for (uint32 m = 0; m < M; m++) {
    FFTnRC_fft(&it->FFTnRC, frames[m], 1);
    FFTnRC_fftbuf2xy(&it->FFTnRC, frames[m], it->reXmic + m * F, it->imXmic + m * F);
  }
}

// Blocking: per microphone, remove the coherence-weighted beam adaptively; the
// double-talk detector compares the error frame with the mean frame and its
// similarity becomes the filter's step size. The microphones' filters are
// independent of each other, so both errors are formed and transformed
// first, and one pass computes the DCT coefficients of both error frames and
// of the mean frame, whose coefficients both detectors share.
void BlockTarget(micarray_core::TMicArray* it, mfloat sdd_norm) {
  const uint32 M = it->sizeMic;
  float second[kMaxFrame];
  mfloat* errors[kMaxMics] = {it->buff, second};
  const mfloat* frames[kMaxDctFrames];
  mfloat* coefficients[kMaxDctFrames];
  for (uint32 m = 0; m < M; m++) {
    TFDAF12* bm = &it->bm[m];
    FDAF12_Substration(bm, it->reWYb, it->imWYb, it->reXmic + m * it->maxFbin, it->imXmic + m * it->maxFbin,
                       sdd_norm);
    FFTnRC_xy2fftbuf(&it->FFTnRC, bm->reE, bm->imE, errors[m]);
    FFTnRC_fft(&it->FFTnRC, errors[m], -1);
    frames[m] = errors[m];
    coefficients[m] = it->dtd[m].xDCT;
  }
  frames[M] = it->dYb;
  coefficients[M] = it->dtd[0].yDCT;
  DCT_dctFrames(&it->dtd[0], M + 1, frames, coefficients);
  for (uint32 m = 1; m < M; m++) umem_cpy(it->dtd[m].yDCT, it->dtd[0].yDCT, it->dtd[m].size_dct);
  for (uint32 m = 0; m < M; m++) {
    it->dtd_status[m] = DTalkDetect_DecideMA(&it->dtd[m], kDtdThreshold, &it->dtd_coeff[m]);
    FDAF12_Adaptation(&it->bm[m], it->reWYb, it->imWYb, it->dtd_coeff[m]);
  }
}

// Synthesis: the inverse-transformed frame in buff is halved (four
// Hann windows at a hop of N/4 sum to 2), overlap-added, de-emphasised and
// clipped into the caller's buffer (the inverse transform gives no bound on
// the frame's values).
template <TVecLevel kLevel>
VEC_INLINE void Synthesise(micarray_core::TMicArray* it, int16* outbuf) {
  const uint32 N = it->lenght_frame, S = it->lenght_step;
  constexpr uint32 L = Vec_Floats(kLevel);
  for (uint32 k = 0; k < N; k += L) Vec_ToSamples<L>(it->buff + k, it->dOut_wE + k);
  // The division by 2 * div_step as a product by its reciprocal: with
  // div_step = 1 that is 0.5, exact on the whole numbers of a frame.
  umem_cpy_mul(it->dOut_wE, it->dOut_wE, 1.0f / (it->div_step + it->div_step), N);
  umem_add(it->dOut_wE, it->dOutPrev_wE + S, N - S);
  umem_cpy(it->dOutPrev_wE, it->dOut_wE, N);
  it->ui_counter++;
  // Each output sample feeds the next, so this loop is a chain through all
  // samples. It runs on the samples' float values: the clipped sum truncated
  // toward zero is an integer that a float holds exactly (the value the
  // int16 sample converts back to), which spares the chain the conversions
  // to int16 and back. (A zero may lose its sign there: the next sum adds it
  // to a whole number, where either zero gives the same.)
  mfloat prev = (mfloat)it->de_emphasis;
  for (uint32 k = 0; k < S; k++) {
    const mfloat mysum = (mfloat)it->dOut_wE[k] + kDeEmphasis * prev;
    prev = mysum > kOutputLimit ? kOutputLimit
                                 : (mysum < -kOutputLimit ? -kOutputLimit : Vec_TruncInt<kLevel>(mysum));
    outbuf[k] = (int16)prev;
  }
  it->de_emphasis = (int16)prev;
}

}  // namespace

void MicArray_Init(TMicArray* pub, uint32 SamplingRate, mfloat Distance, mfloat speedAlpha, mfloat pSdb, mfloat pNn,
                   mfloat pMn) {
  micarray_core::TMicArray* it = Core(pub);
  const uint32 nfft = SetFrameSize(it, SamplingRate);
  it->Distance = Distance;
  it->div_step = 1.0f;
  it->sizeMic = kMaxMics;
  it->sdd_thr = 0.3f;
  it->sdd_old = 1.0f;
  it->mSuppression = 0.075f;
  it->angleTetta_start = 0.0f;
  sDirect10a_Init(&it->sDr10a, SamplingRate, nfft, speedAlpha);
  sDirect10a_SetVectorDirect(&it->sDr10a, it->angleTetta_start, Distance);
  for (uint32 m = 0; m < it->sizeMic; m++) FDAF12_Init(&it->bm[m], nfft);
  for (uint32 m = 0; m < it->sizeMic; m++) DTalkDetect_Init(&it->dtd[m], kDtdCoefficients, nfft);
  MulFDAF12_Init(&it->mulC, it->sizeMic, nfft);
  FFTnRC_Init(&it->FFTnRC, nfft);
  FilterWiener_Init(&it->fwiener, nfft, 0, pSdb, pNn, pMn);
  for (uint32 k = 0; k < it->lenght_frame * it->sizeMic; k++) it->frameMic[k] = 0;
  for (uint32 k = 0; k < it->lenght_frame; k++) {
    it->dYb[k] = 0.0f;
    it->dOut_wE[k] = 0;
    it->dOutPrev_wE[k] = 0;
  }
  it->de_emphasis = 0;
  it->pre_emphasis[0] = it->pre_emphasis[1] = 0;
  it->ui_counter = 0;
}

void MicArray_Reset(TMicArray* pub, mfloat pSdb, mfloat pNn, mfloat pMn) {
  FilterWiener_Reset(&Core(pub)->fwiener, 0, pSdb, pNn, pMn);
}

void MicArray_Destroyed(TMicArray* pub) {
  micarray_core::TMicArray* it = Core(pub);
  for (uint32 m = 0; m < it->sizeMic; m++) FDAF12_Destroyed(&it->bm[m]);
  for (uint32 m = 0; m < it->sizeMic; m++) DTalkDetect_Destroyed(&it->dtd[m]);
  MulFDAF12_Destroyed(&it->mulC);
  FilterWiener_Destroyed(&it->fwiener);
}

namespace {

template <TVecLevel kLevel>
VEC_INLINE mfloat Process(TMicArray* pub, int16* inpbuf, int16* outbuf) {
  micarray_core::TMicArray* it = Core(pub);
  const uint32 F = it->maxFbin;

  AnalyseFrames<kLevel>(it, inpbuf);

  // Fixed beam towards the front: the mean of the microphone spectra. Its
  // phase comes straight from the split spectrum: the imaginary parts of DC
  // and Nyquist are exact zeros there (means of unpacked zeros), just what
  // the phase of the packed beam assumes, so the round trip through the
  // packed form would change nothing.
  umem_complex_scm(it->reYb, it->imYb, it->reXmic, it->imXmic, F, it->sizeMic);
  FFTnRC_xy2F(&it->FFTnRC, it->reYb, it->imYb, it->PhasaYb);

  sDirect10a_Detect(&it->sDr10a, it->reXmic, it->imXmic);
  const mfloat sdd_prev = it->sdd_old;
  it->sdd = it->sDr10a.sDirect;
  it->sdd_old = it->sdd;
  sDirect10a_FilterWiener(&it->sDr10a, it->reYb, it->imYb, it->reWYb, it->imWYb);

  // The more the sound comes from the front, the more of the beam the
  // blocking filters remove and the less the canceller subtracts.
  const mfloat sdd_norm = kSmoothing * sdd_prev + kSmoothing * it->sdd;
  BlockTarget(it, sdd_norm);

  // The blocking filters' errors are the noise references of the canceller.
  for (uint32 n = 0; n < it->sizeMic; n++) {
    umem_cpy(it->BM_re + n * F, it->bm[n].reE, F);
    umem_cpy(it->BM_im + n * F, it->bm[n].imE, F);
  }
  mfloat mCoeff[kMaxMics];
  for (uint32 n = 0; n < it->sizeMic; n++) mCoeff[n] = 1.0f - sdd_norm;
  MulFDAF12_Substration(&it->mulC, it->BM_re, it->BM_im, it->reYb, it->imYb, mCoeff);
  umem_cpy(it->reE, it->mulC.reE, F);
  umem_cpy(it->imE, it->mulC.imE, F);
  MulFDAF12_Adaptation(&it->mulC, it->BM_re, it->BM_im, it->dtd_coeff);

  // Post-filter on the magnitude; the signal reference is refreshed unless
  // both detectors find the errors alike (target absent from the references).
  FFTnRC_xy2R(&it->FFTnRC, it->reE, it->imE, it->psdE);
  const char vad_status = (it->dtd_status[0] && it->dtd_status[1]) ? 0 : 1;
  FilterWiener_Run(&it->fwiener, 1, vad_status, it->psdE);
  FFTnRC_RF2xy(&it->FFTnRC, it->psdE, it->PhasaYb, it->reE, it->imE);
  sDirect10a_FilterWiener(&it->sDr10a, it->reE, it->imE, it->reWE, it->imWE);

  FFTnRC_xy2fftbuf(&it->FFTnRC, it->reWE, it->imWE, it->buff);
  FFTnRC_fft(&it->FFTnRC, it->buff, -1);
  Synthesise<kLevel>(it, outbuf);
  return 0.0f;
}

}  // namespace

VEC_DISPATCH(mfloat, MicArray_Process, Process, (TMicArray* pub, int16* inpbuf, int16* outbuf),
             (pub, inpbuf, outbuf))

void vCpy(mfloat* r, mfloat* x, uint32 j) { umem_cpy(r, x, j); }
