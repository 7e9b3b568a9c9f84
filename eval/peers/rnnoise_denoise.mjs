#!/usr/bin/env node
// RNNoise (a recurrent network that sets gains on 22 bands of 48 kHz speech) as an
// evaluation peer: single-microphone noise suppression of microphone 0. Other rates
// are resampled to 48 kHz and back with a Kaiser-windowed sinc; the output has the
// input's length and is aligned with it (the network's delay, two frames, is taken off).
import { readFileSync, writeFileSync } from "node:fs";
import createModule from "@jitsi/rnnoise-wasm/dist/rnnoise-sync.js";

const USAGE = "rnnoise_denoise RATE IN.pcm OUT.pcm";
const NET_RATE = 48000, FRAME = 480;  // the network's rate and its 10 ms frame
const DELAY = 2 * FRAME;                // its output's delay, measured against its input
const RATES = [8000, 16000, 32000, 48000];
// Resampler: 24 zero crossings either side of the narrower band, Kaiser beta 8
// (about 80 dB stop band), the pass band to 97 % of the lower Nyquist rate.
const CROSSINGS = 24, BETA = 8.0, PASS = 0.97;

function fail(code, message) {
  process.stderr.write(`${message}\nusage: ${USAGE}\n`);
  process.exit(code);
}

// Zeroth-order modified Bessel function of the first kind, by its series.
function bessel0(x) {
  let sum = 1.0, term = 1.0;
  for (let k = 1; k < 50 && term > 1e-12 * sum; k++) {
    term *= (x / (2 * k)) * (x / (2 * k));
    sum += term;
  }
  return sum;
}

// The Kaiser window over |r| = 0..1, tabulated (linear interpolation between points).
const WINDOW_POINTS = 4096;
const WINDOW = Float64Array.from({ length: WINDOW_POINTS + 2 }, (_, i) => {
  const r = Math.min(1.0, i / WINDOW_POINTS);
  return bessel0(BETA * Math.sqrt(1.0 - r * r)) / bessel0(BETA);
});
function kaiser(r) {
  const at = Math.abs(r) * WINDOW_POINTS, i = Math.floor(at);
  return WINDOW[i] + (at - i) * (WINDOW[i + 1] - WINDOW[i]);
}

function resample(x, from, to) {
  if (from === to) return Float64Array.from(x);
  const step = from / to;                         // input samples per output sample
  const cutoff = PASS * Math.min(1.0, to / from);  // of the input's Nyquist rate
  const half = CROSSINGS / cutoff;
  const y = new Float64Array(Math.round(x.length / step));
  for (let n = 0; n < y.length; n++) {
    const t = n * step;
    let acc = 0.0;
    for (let j = Math.max(0, Math.ceil(t - half)); j <= Math.min(x.length - 1, Math.floor(t + half)); j++) {
      const d = t - j, r = d / half, arg = Math.PI * cutoff * d;
      const sinc = arg === 0 ? 1.0 : Math.sin(arg) / arg;
      acc += x[j] * cutoff * sinc * kaiser(r);
    }
    y[n] = acc;
  }
  return y;
}

const args = process.argv.slice(2);
if (args.length !== 3) fail(2, "three arguments expected");
const rate = Number(args[0]);
if (!RATES.includes(rate)) fail(2, `rate must be one of ${RATES.join(", ")}`);
let bytes;
try {
  bytes = readFileSync(args[1]);
} catch (e) {
  fail(1, `cannot open ${args[1]}`);
}
const stereo = new Int16Array(bytes.buffer, bytes.byteOffset, Math.floor(bytes.length / 4) * 2);
const frames = stereo.length / 2;
const mic0 = new Float64Array(frames);
for (let i = 0; i < frames; i++) mic0[i] = stereo[2 * i];  // the network works on 16-bit sample values

const wide = resample(mic0, rate, NET_RATE);
const padded = Math.ceil((wide.length + DELAY) / FRAME) * FRAME;
const net = createModule();
await net.ready;
const state = net._rnnoise_create();
const pointer = net._malloc(FRAME * 4);
const denoised = new Float64Array(padded);
for (let start = 0; start < padded; start += FRAME) {
  const buffer = new Float32Array(net.HEAPF32.buffer, pointer, FRAME);
  for (let i = 0; i < FRAME; i++) buffer[i] = start + i < wide.length ? wide[start + i] : 0.0;
  net._rnnoise_process_frame(state, pointer, pointer);
  const out = new Float32Array(net.HEAPF32.buffer, pointer, FRAME);
  for (let i = 0; i < FRAME; i++) denoised[start + i] = out[i];
}
net._rnnoise_destroy(state);
const back = resample(denoised.subarray(DELAY, DELAY + wide.length), NET_RATE, rate);
const mono = new Int16Array(frames);
for (let i = 0; i < frames; i++) {
  const v = Math.round(i < back.length ? back[i] : 0.0);
  mono[i] = v > 32767 ? 32767 : v < -32768 ? -32768 : v;
}
try {
  writeFileSync(args[2], Buffer.from(mono.buffer));
} catch (e) {
  fail(1, `cannot write ${args[2]}`);
}
