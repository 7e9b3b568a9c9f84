// The speech post-filter: noise estimates and the log-spectral-amplitude gain.
#include "mvdr_postfilter.h"

#include <math.h>
#include <string.h>

#include "mvdr_fastmath.h"

namespace {

// Stationary tracker: the presence test assumes speech 15 dB above the
// noise (xi_opt = 31.6): P1 = 1 / (1 + (1 + xi_opt) e^(-|y|^2/sigma2 xi_opt / (1 + xi_opt))).
const float kTrackOnePlusXi = 32.6f, kTrackRatio = 0.969f;
// P1 is smoothed (0.9) and capped at 0.99 while its smoothed value exceeds
// 0.99, so the tracker never stops; sigma2 follows with 0.8.
const float kTrackPSmooth = 0.9f, kTrackPCap = 0.99f, kTrackSmooth = 0.8f;
// Start-up (the first quarter second): sigma2 is the smallest |y|^2,
// smoothed over a few frames (0.7), seen so far, times 2 for the minimum's
// bias. A plain mean would take a talker speaking from the first frame for
// noise and suppress the first word.
const float kStartSigma2 = 1e30f;
// The reference's gain for a diffuse field, E|u|^2 / E|X0|^2 = |d1|^2 + 1 -
// 2 sinc Re d1, is held above 0.002 (the lowest bins at the smallest
// spacings); a looser bound cost 0.3 dB on diffuse noise, measured.
const float kStartMinSpread = 0.002f;
const float kStartSeconds = 0.25f, kStartSmooth = 0.7f, kStartBias = 2.0f;
// Below 70 Hz, under the lowest voice's fundamental, a bin holds noise
// alone (rumble, traffic, wind, the low end of pink noise, which can carry
// half of its power), and there the stationary track ran 10 dB or more low
// and let it through: its start-up bound, the reference's power read as
// diffuse noise, is near zero where both microphones hear the same field,
// and the track climbs out of an under-estimate only slowly (its presence
// test then reads the noise as speech). There the start-up takes the
// minimum alone, and after it the track is at least 4 times the least
// power, smoothed as in the start-up, of the last one to two seconds (the
// minimum's bias, after Martin's minimum statistics, IEEE TSAP 2001). 72
// drawn diffuse-noise scenes (white or pink, -5 to 10 dB, 8 to 48 kHz, 2 to
// 10 cm) +0.40 dB (-5 dB +0.82, 10 dB +0.17), 72 drawn after +0.38, the
// tuning and held-out scenes +0.24 (those with pink noise +0.3 to +4.2,
// with white noise +0.1 and +0.3, the rest within 0.02; a recorded voice,
// whose own low end counts in its score, +0.05); floors of 2 and 8 times
// the minimum +0.20 and +0.43, a fixed floor under 70 Hz +0.57 but -2.1 dB
// on a recorded voice, a floor for every bin +0.3 at -5 dB and -1.3 at 10
// dB (it catches steady vowels), a cut-off of 100 Hz 0.06 dB less.
const float kSubVoiceHz = 70.0f, kSubBlockSeconds = 1.0f, kSubBias = 4.0f;
// Reference term: noise-only smoothing 0.95 (0.05 more toward 1 with
// presence), short-term 0.5, the learned ratio at most 100.
const float kRefForget = 0.95f, kRefShort = 0.5f, kRefMaxRatio = 100.0f;
// The talker leaks into the reference: in rooms its reverberation, which
// reaches u as a diffuse field does (at the reference's diffuse gain), in
// the free field through the steering's small errors. The reference term
// and the rooms' interferer term then run high wherever the talker speaks.
// So the reference's short-term power they take is less half the talker's
// recent power at the output (the post-filter's own estimate |G y|^2,
// smoothed over frames by 0.6) times that gain, and at least a tenth of
// it (a late-reverberation estimate from the talker's past, after Lebart
// and Habets, with the decay's memory at a frame or two). 235 tuning rooms
// +0.19 dB (0 dB +0.04, 5 dB +0.18, 8 dB +0.35), 231 rather than 230 ahead
// of the WebRTC beamformer by 1 dB or more, their shortfalls 1.5 dB smaller
// in sum; 243 check rooms +0.21; seeds 44 to 57 +0.20 (all 168 won); the
// rooms at 3, 10 and 30 cm +0.09, +0.26 and +0.31, at 1 and 2 cm +0.02 and
// +0.06, at 8 and 48 kHz +0.13 and +0.12. Free field: tuning and held-out
// scenes +0.42 and +0.38 (up to +2.4 dB in a scene, a noise at 10 dB),
// steering sets +0.16, -0.08 and +0.34; interferers within 30 degrees at 1
// and 2 cm lose up to 0.9 dB (their power, counted as the talker's, is
// taken off too). A share of 0.3 or 0.7 scored within 0.03 dB in rooms;
// smoothing by 0.4 the same, by 0.78 and 0.9 0.02 and 0.08 lower; the
// diffuse gain raised to 0.5 or 1.5 in its place 0.06 to 0.13 lower;
// weighted by the room, rooms gained 0.03 less.
// In rooms the short-term reference power of lambda_1 leaves the same leak
// out: 235 tuning rooms +0.03 dB (232 rather than 231 ahead by 1 dB or
// more), 243 check rooms +0.04 (236 rather than 237), seeds 44 to 57 +0.04
// (164 rather than 161), seeds 74 to 77, drawn after, +0.04 (46 rather
// than 44 of 48); the rooms at 1 to 30 cm 0.00 to +0.05, at 8 and 48 kHz
// +0.03, with the talker 40 degrees off -0.06. In the free field too it
// cost the tuning and held-out scenes 0.02 and 0.07 dB.
const float kLeakShare = 0.5f, kLeakSmooth = 0.6f, kLeakKeep = 0.1f;
// Directional weighting: the coherence's distance from the diffuse value,
// relative to the largest possible, mapped from 0.3..0.7 onto 0..1; where
// the diffuse coherence exceeds 0.9 (low frequencies, small spacings) the
// two fields cannot be told apart and the reference counts fully.
const float kDirLo = 0.3f, kDirSpan = 0.4f, kDirAlike = 0.9f;
// In reverberant rooms the talker's reverberation fills the pauses the
// stationary track learns from and leaks into the blocking reference, so
// both terms run high where the talker leads: there the stationary track
// counts 10 dB less (+0.4 dB on average over ten tuning rooms; a cut of 3
// dB gave +0.2, one of 15 or 20 dB the same) and the reference term a
// quarter: over 31 rooms it gains 0.5 to 1.4 dB at 5 to 8 dB SNR and loses
// up to 1 dB at 0 dB (mean +0.2 dB against a half; a tenth +0.1, none -0.15). No
// cue found tells the two apart: the talker's presence and its long-term
// share of the frame overlap between them.
const float kRoomStationaryCut = 0.9f, kRoomRefCut = 0.75f;
// Spatial frame gain in rooms. Per bin, the share of the frame's power the
// talker's direction explains, cos^2 of the angle between x and d,
// |d^H x|^2 / (|d|^2 |x|^2), rescaled so that the noise field's expected
// share (from its covariance) maps to 0 and a direct talker's to 1; the
// power-weighted mean over 2-6 kHz (where the directions differ most in
// phase at centimetre spacings; 1-4 kHz scored 0.1-0.3 dB lower, a per-bin
// mask smoothed across frequency 0.4-0.9 dB lower) rises at once and falls
// a fifth of the way to a lower share per frame (31 rooms: +0.08 dB on
// average against two fifths, a tenth 0.07 dB lower); the frame's gain is
// that mean to the power 0.5 (0.7 before the interferer term below was
// raised; see there), no lower than the post-filter's floor. It
// lets through frames the talker leads and turns down those of the
// interferer, as the LSA gain cannot where its noise estimate is unsure.
// Each half of the band (2-4 and 4-6 kHz at 16 kHz) has a gain of its own,
// the lower half's for the bins below the split, the upper's above: two
// talkers often lead different halves of one frame. 235 tuning rooms +0.12
// dB on average, 189 rather than 183 ahead of the WebRTC beamformer by 1
// dB or more; 51 check rooms +0.12 (38 rather than 37); the same rooms at
// 2 and 10 cm +0.06 and +0.12, with the talker 2.5 m away +0.07. Three
// bands gained less (+0.04), four lost (-0.22), as did halves of 1-6 kHz.
const float kMaskLoHz = 2000.0f, kMaskHiHz = 6000.0f, kMaskRelease = 0.8f, kMaskPower = 0.5f;
// The share each bin adds to that mean is held through the bin's decay
// from its last onset, after the precedence effect: the direct sound that
// starts a sound tells its direction, the reverberation that follows
// blurs it. A frame's share counts by the share of the bin's power that is
// new, what the last frame's power decayed by 0.8 (1 dB a hop, a tail of
// RT60 1 s at 16 kHz) does not explain, and at least 0.2: a bin's tail
// keeps the direction its onset read. The co-modulation cue's envelopes
// read the share so too, and the arrival direction's cue below is held
// alike. Against half the bin's own share and half the share held over
// frames (smoothed by kShareSmooth), which the two read before: 540 rooms
// +0.08 dB (0, 5 and 8 dB +0.07, +0.07 and +0.10; none more than 0.13 dB
// lower), STOI +0.0016; drawn after, 480, 576 and 240 rooms +0.08, +0.07
// and +0.06, as many short of the rooms goal in all (21 of 1836: two rooms
// that led by 1.01 and 1.05 dB fell to 0.99 and 1.00, two rose past 1);
// 96 rooms at 1 to 4 cm +0.03 to +0.06, at 10 and 30 cm +0.09, at 8 and 48
// kHz +0.05, with the talker 15, -20 and 40 degrees off +0.14, +0.12 and
// +0.10; the tuning and held-out scenes' rooms +0.02 to +0.20, their free
// field unchanged. Read so by the spatial gain alone, +0.03; a least
// weight of 0.1 or 0.3 scored 0.01 higher and lower, three quarters held
// and a quarter the frame's own share 0.02 lower. The earlier blend had
// scored +0.02 dB against the frame's own share (235 tuning rooms, 230
// rather than 229 ahead of the WebRTC beamformer by 1 dB or more), the
// share held over frames alone alike.
const float kOnsetDecay = 0.8f, kOnsetLeast = 0.2f;
// The co-modulation cue (mvdr_comod.h) takes the two talkers' envelopes
// from 1 to 4 kHz, where the share already sorts most bins and both voices
// still carry power, each bin counted by its share to the eighth power
// (the talker's) or one less it to the eighth (the interferer's): bins
// both talkers fill blur the envelopes. Against the power the share gives
// each from 2 to 6 kHz (the spatial gain's band): 235 tuning rooms +0.09
// dB (0, 5 and 8 dB +0.12, +0.08 and +0.08), the 540 rooms of seeds 7 to
// 51 +0.09 (shortfalls below a 1 dB lead over the WebRTC beamformer 1.2 dB
// smaller in sum; seed 42's lost 8 dB room 0.46 dB nearer), seeds 58 to
// 85 +0.09 (332 rather than 328 of 336 ahead by 1 dB or more), seeds 90 to
// 93 (drawn after) +0.11; the tuning rooms at 1, 2, 3, 10 and 30 cm +0.02,
// +0.07, +0.09, +0.08 and +0.04, at 8 and 48 kHz +0.06 and +0.08, with
// the talker 40 degrees off or 2.5 m away +0.01 and +0.06. Powers of 2, 3,
// 4 and 6 scored 0.04, 0.03, 0.02 and 0.01 dB lower, 12 and 16 up to 0.01
// higher but with larger shortfalls; counting bins whose share reads above
// 0.7 and below 0.3 whole, 0.02 lower (but 532 rather than 530 of the 540
// rooms ahead by 1 dB or more); bands of 1.5-4, 1-3 and 1-5 kHz, or from
// 0.7 rather than 1 kHz, about 0.01 lower.
const float kSplitLoHz = 1000.0f, kSplitHiHz = 4000.0f;
// A bin from 250 Hz to 2.5 kHz that follows the talker's envelope (cue c
// > 0) keeps c / 2 of what the frame's spatial gain would take: that gain
// comes from 2-6 kHz, and at low frequencies the talker often leads a bin
// in a frame whose upper band the interferer leads. Together with the
// cue's level taken as the mean of the reference's and the output's log
// levels (rather than the reference's alone): 235 tuning rooms +0.05 dB
// (0, 5 and 8 dB +0.07, +0.04 and +0.04), the 540 rooms of seeds 7 to 51
// +0.05 (532 rather than 530 ahead of the WebRTC beamformer by 1 dB or
// more, shortfalls 0.55 dB smaller in sum), seeds 58 to 93 +0.05 (425
// rather than 424 of 432). Each alone gave about half of it (without the
// sparing, the output's level alone scored 0.01 dB below the mean, the
// reference's 0.02); sparing 0.3 or all of c up to 0.01 lower; turning the
// spatial gain down where the bin follows the interferer lifted 0 dB rooms
// by 0.08 and cost 8 dB rooms 0.1.
const float kComodSpare = 0.5f;
// In rooms the share is then blended, half and half (weighted by the
// room), with how near each bin's arrival direction lies to the talker's.
// The phase of X1 X0* d1* is 0 for the talker; divided by w s (s the
// spacing in samples) it is the difference of the sines of the two
// directions for a far source, taken up to 1 (phases that alias above
// c / 2D stay below it). Held over frames and averaged over 250 Hz either
// side like the share, a gap of 0.05 or less counts as the talker's (1),
// one of 0.65 or more (0.55 with the onset hold below) as another source's
// (0). The share, a power ratio, weighs the two microphones' levels, which
// a room's reflections scatter, and its phase term fades toward low
// frequencies; the gap reads the phase alone, scaled by frequency, so that
// every bin tells the direction alike.
// Against labels from passing each talker alone through the room, the
// area under the ROC curve in eight weak rooms was 0.51-0.79 for the share
// as used (pitch and envelope cues included), 0.54-0.81 for the gap and
// 0.53-0.83 for the two summed. 540 rooms +0.09 dB (0, 5 and 8 dB -0.01,
// +0.08 and +0.21), 8 rather than 11 below microphone 0 (the worst -2.2
// rather than -2.9 dB), all ahead of the WebRTC beamformer (one behind
// before, by 0.94 dB, now ahead by 1.0), 7 rather than 10 short of a 1 dB
// lead or with a STOI below microphone 0's (6 and 1 rather than 7 and 4);
// 480 drawn after +0.07 (4 rather than 11 below microphone 0; 7 short
// rather than 8: 6 and 1 rather than 5 and 3), 240 drawn after this change
// +0.08 (1 rather than 5 below microphone 0; 4 short rather than 3: 4 and
// 0 rather than 2 and 1). 96 rooms at 2 cm +0.03, at 8 and 48 kHz +0.04
// and +0.11; 51 tuning and held-out scenes +0.003 (their rooms -0.28 to
// +0.43, the free field unchanged). Gaps of 0-0.6, 0.1-0.7 and
// -0.05-0.55 counted whole to none scored 0.03, 0.06 and 0.15 dB lower;
// with the first, a
// blend of 0.35 0.01 higher and one of 0.7 0.07 lower; the blend only
// below the aliasing 0.03 lower; the gap in the spatial gain too 0.02
// higher, but with more rooms short of a 1 dB lead. A cue from per-bin
// spatial covariances learned online for each talker, labelled by the
// share, only matched the share.
// The diffuse field's phase is 0, which the gap reads as broadside: the
// talker's own reverberation counts as the talker's only while the talker
// is near broadside. So the blend fades out as the sine of the talker's
// angle rises to 0.4 (24 degrees): with the talker 30 and 40 degrees off,
// 96 rooms lost 0.30 and 0.51 dB with the blend whole; 15 and -20 degrees
// off, they gained 0.01 and 0.02. At wider spacings the diffuse field
// loses its coherence and the phase aliases from c / 2D (1.7 kHz at 10
// cm) down into the voice's band: 96 rooms at 10 and 30 cm lost 0.02 and
// 0.33 dB with the blend whole (weighting it per bin by the diffuse
// coherence kept them level but halved the gain at 5 cm). So it also fades
// out as the spacing grows from 5 to 10 cm.
// The gap is held through each bin's decay from its last onset as the
// spatial gain's share is (kOnsetDecay). Measured offline against labels
// from each talker's own image at microphone 0, the area under the ROC
// curve of the gap alone rose from 0.80 to 0.82 in twelve rooms (in seven
// weak 0 dB rooms likewise), but gaps held so read lower and count more
// bins as the talker's: with the far end at 0.65 it traded 0 dB rooms
// (-0.2 dB) against 8 dB rooms (+0.1). With the far end at 0.55: 540 rooms
// +0.04 dB (0, 5 and 8 dB +0.04, +0.03 and +0.05; none more than 0.16 dB
// lower), 4 rather than 6 short of the rooms goal; drawn after, the 480
// rooms of seeds 58 to 97 +0.04 (5 short as before), 576 of seeds 98 to
// 145 +0.05 (5 rather than 6; one room 0.27 dB lower) and 240 of seeds 146
// to 165, drawn for this check, +0.04 (7 rather than 8); STOI +0.001 in
// each. 96 rooms at 1 to 4 cm +0.03, at 8 and 48 kHz +0.03 and +0.06, with
// the talker 15 and -20 degrees off +0.01; the free field unchanged. Far
// ends of 0.5 and 0.6 gained half as much; a least weight of 0.1 or 0.3, or
// a decay of 0.6 or 0.9, within 0.01 dB; the share that shapes the noise
// estimate held so too (its ramps moved 0.05 to 0.15 to match) lost 0.01
// to 0.09, a larger or smaller blend (0.6, 0.4) 0.03 or left more rooms
// short.
const float kGapBlend = 0.5f, kGapNear = 0.05f, kGapFar = 0.55f, kGapSineOff = 0.4f;
const float kGapWideFrom = 0.05f, kGapWideTo = 0.10f;  // metres
// Where the noise field itself lines up with the talker's direction (share
// near 1), the rescaling divides by at least this.
const float kShareMargin = 1e-3f;
// The interferer term of rooms. Where a talking interferer leads a bin, the
// reference term unscaled, min(Ny / Nu, 100) Su, is about right (its median
// 1 dB below the interferer's power in y, measured by passing the
// interferer alone through the same weights); where the talker leads it
// runs 7 dB high (the talker's reverberation leaks into u). Counted a
// quarter, as rooms count it, it misses the interferer's bursts: where the
// interferer leads, the noise estimate's median lay 10 dB low, and made
// exact there, 0 dB rooms would gain 3.6 dB. The talker direction's share
// tells the two apart, best smoothed over frames (a half) and over 250 Hz
// either side: the area under its ROC curve rose from 0.68 to 0.86 (11
// rooms at 0 dB; the phase toward the interferer's true direction added
// 0.01, covariances learned per source from the true labels did worse). So
// in rooms the noise estimate is at least 0.7 times the unscaled reference
// term times a weight that falls from 1 at a smoothed share of 0.2 to 0 at
// 0.55. Below 250 Hz both talkers reach the microphones alike and the share
// tells nothing. 235 tuning rooms +0.14 dB, 218 rather than 201 ahead of
// the WebRTC beamformer by 1 dB or more (0 dB rooms +0.31, 8 dB -0.01),
// STOI +0.010; 55 of them at 1, 2, 3, 10 and 30 cm +0.17, +0.16, +0.16,
// +0.36 and +0.75. Weights of 0.35 to 1 and ramps from 0.1-0.3 to
// 0.35-0.55 all scored within 0.05 dB of this; an estimate from |y|^2
// instead of the reference lost 0.1 to 0.6 dB, a per-bin spatial gain in
// its place 0.3 dB or more. (Those figures are for a weight of 0.6 up to
// 0.45 and the spatial gain's power 0.7. Once the pitch moved the share
// below 1 kHz, the three tuned together as 0.7, 0.55 and 0.5: 235 tuning
// rooms +0.08 dB, 233 rather than 232 ahead of the WebRTC beamformer by 1
// dB or more, 0 dB rooms +0.08, 8 dB +0.08; 624 check rooms +0.10, 607
// rather than 605; STOI +0.002. Alone, the weight and ramp lifted 0 dB
// rooms and cost 8 dB rooms, the power the other way.)
const float kShareSmooth = 0.5f, kShareReachHz = 250.0f, kShapeFromHz = 250.0f;
const float kApartWeight = 0.7f, kApartShareLo = 0.2f, kApartShareHi = 0.55f;
// That weight trades 0 dB rooms against 8 dB rooms: at 1 rather than 0.7
// the 0 dB rooms gained 0.16 dB and the 8 dB rooms lost 0.08, and five
// more rooms fell below microphone 0's STOI. How much a talking
// interferer leads tells them apart: the term's own weight per bin
// (Apart, on the share after all its cues), its power-weighted mean over
// the bins from 250 Hz, averaged over a file, lies at 0.35-0.51 in 0 dB
// rooms and 0.24-0.38 in 8 dB rooms (5th to 95th percentiles, 540 rooms).
// So the weight rises from 0.7 to 1 as that load, held over about 1.6 s,
// rises from 0.32 to 0.44. It starts at 0.32: the first frames, before the
// coherence's statistics settle, read loads up to 0.8 (started there, as
// many rooms gained but three times as many lost 0.2 dB or more). 540
// rooms +0.03 dB, 7 short of the rooms goal as before; 480, 240 and 240
// drawn after +0.03, +0.03 and +0.02 (5 rather than 7, 3 rather than 4, 2
// as before); with a fixed 1 instead, +0.03 on the first three but 7
// rooms rather than 2 below microphone 0's STOI. Loads of 0.28-0.40 and
// 0.36-0.48, or holding over 0.5 or 3 s (started at the first frame's
// load), scored within 0.01 dB; a weight of 1.3 when loaded 0.01 lower,
// with two more rooms short. The load is read from the share as the
// arrival direction's cue moves it; where that cue is off it misleads (96
// rooms at 10 and 30 cm lost 0.06 and 0.12 dB, with the talker 15 and -20
// degrees off 0.12 and 0.10), so the rise is weighted as that cue is: 15
// and -20 degrees off then lose 0.04 and 0.01, 10 and 30 cm are
// unchanged; 2 cm +0.09, 8 and 48 kHz +0.04 and +0.02; 51 tuning and
// held-out scenes +0.02 (their rooms alone).
const float kApartWeightLoaded = 1.0f, kApartLoadLo = 0.32f, kApartLoadHi = 0.44f, kApartLoadSeconds = 1.6f;
// The same share tells where the talker leads: there the stationary track
// and the reference term run high (in rooms the talker's reverberation
// fills both) and count a tenth, the cut rising from a smoothed share of
// 0.4 to 0.6. In rooms lambda_1, which then carries the talker's
// reverberant cross-terms, is cut alike; in the free field it is not, as it
// follows a second interferer the beam cannot null (cut there too, two
// interfering talkers lost 0.9 dB). Made exact where the talker leads, the
// estimate had been worth 0.9 dB in 0 dB rooms. 235 tuning rooms +0.21 dB
// more (0 dB rooms +0.14, 8 dB +0.29), 221 ahead of the WebRTC beamformer
// by 1 dB or more, their shortfalls below 1 dB 2.9 dB smaller in sum; 55 of
// them at 1, 2, 3, 10 and 30 cm +0.19, +0.26, +0.24, +0.14 and +0.04, with
// the talker 2.5 m away +0.23. In the free field, wherever the steering is
// settled: tuning and held-out scenes +0.13 and +0.24 (diffuse noise +0.1
// to +0.2, the worst scene, two interfering talkers, -0.26), steering sets
// +0.10 to +0.14, the off-broadside sweeps +0.28 and +0.11. Cuts of 0.5 to
// 0.99 and ramps from 0.35-0.45 to 0.5-0.7 scored within 0.1 dB of this in
// rooms.
const float kLeadsShareLo = 0.4f, kLeadsShareHi = 0.6f, kLeadsCut = 0.9f;
// At small spacings a reverberant talker's share falls lower: the noise
// field's share nears 1 there, so the rescaling stretches what the room's
// reverberation takes off the talker's. The ramp then starts 0.1 lower at
// 2 cm and below, by nothing at 5 cm and above, linearly between. 235
// tuning rooms at 1, 2, 3 and 4 cm +0.19, +0.14, +0.05 and +0.02 dB (ahead
// of the WebRTC beamformer by 1 dB or more in 191 rather than 178, 121
// rather than 107, 180 rather than 176, 210 as before; 0 dB rooms -0.1 at 2
// and 3 cm); free-field tuning and held-out scenes at 1 to 3 cm +0.02 to
// +0.09 (worst scene, two interfering talkers at 2 cm, -0.3); 8 and 48 kHz
// rooms at 2 cm +0.11 and +0.21. Shifts of 0.15 scored alike at 1 to 3 cm
// but cost 0 dB rooms more.
const float kLeadsShift = 0.1f, kLeadsShiftFull = 0.02f, kLeadsShiftNone = 0.05f;
// Off broadside a reverberant talker's share falls lower too: its
// reverberation, a diffuse field with no phase between the microphones,
// lines up with a broadside steering at centimetre spacings, less with one
// turned away; and the arrival direction's blend, which lifts the talker's
// bins near broadside, fades out (kGapSineOff). So as that blend fades with
// the talker's angle (24 degrees off and beyond: fully), the cut where the
// talker leads starts 0.2 lower and the interferer term's ramp (Apart) ends
// 0.1 lower. 96 rooms (seeds 7 to 14) with the talker 40 degrees off +0.47
// dB (0, 5 and 8 dB +0.07, +0.59 and +0.69), STOI +0.006 (37 rather than 39
// below microphone 0's: each has an interferer within 40 degrees of the
// talker, most within 20, and there the beam alone mostly ends at or below
// it too); 15, -20 and 60 degrees off +0.22, +0.06 and +0.50; at 40 degrees
// and 2 cm, 48 kHz and (-40) 10 cm +0.31, +0.58 and +0.38. Drawn after
// (seeds 15 to 22), 40, 20 and -30 degrees off +0.45, +0.29 and +0.16. The
// free field's four off-broadside tuning and held-out scenes +0.36 to +0.55,
// the rest unchanged. Shifts of 0.2-0.3 and 0.1-0.2 scored within 0.06 dB at
// 40 degrees; tied to the blend's fading with the spacing as well, broadside
// rooms at 10 and 30 cm moved by -0.04 and +0.06. The spatial gain, which
// reads the same lower share, turns the talker's frames down too: off
// broadside its power falls likewise from 0.5 to 0.3. On top of the ramps:
// 40 degrees off +0.10 dB (33 rather than 37 rooms below microphone 0's
// STOI), 15, -20 and 60 degrees off +0.02, +0.03 and +0.14; at 40 degrees
// and 2 cm and (-40) 10 cm +0.01 and +0.14; drawn after, 40, 20 and -30
// degrees off +0.12, +0.03 and +0.06; no room 0.42 dB or more lower. Powers
// of 0.35 and 0.15 scored +0.09 and +0.11 at 40 degrees, the latter with 12
// rooms 0.2 dB or more lower.
const float kOffLeadsShift = 0.2f, kOffApartShift = 0.1f, kOffMaskDrop = 0.2f;
// In rooms the presence probability tells the talker's bins from the
// interferer's no better than chance (area under the ROC curve 0.51), yet
// it gates what the ratio Ny / Nu learns, so that ratio learns little from
// a talking interferer's bursts. The share's verdict, 1 minus the
// interferer term's weight (0 at a smoothed share of 0.2, 1 at 0.55, last
// frame's), lowers the presence the ratio learns with by 0.3 of how far it
// lies above that verdict; from 600 Hz, as below both talkers line up with
// the talker's direction. 235 tuning rooms +0.06 dB, 226 rather than 221
// ahead of the WebRTC beamformer by 1 dB or more (0 dB rooms +0.15, 8 dB
// -0.02), their shortfalls below 1 dB 1.4 dB smaller in sum; 55 of them at
// 1, 2, 3, 10 and 30 cm +0.03, +0.07, +0.08, +0.04 and -0.01, at 8 and 48
// kHz +0.08 and +0.05, the talker 2.5 m away 0.00. With the talker 40 and
// 60 degrees off it costs 0.05 and 0.08 dB (STOI -0.002). Blends of 0.2 to
// 0.7 scored within 0.01 dB; raising the presence where the share is high
// gained nothing; gating from 0 Hz cost the talker 40 degrees off 0.14 dB,
// from 400 or 1000 Hz the rooms gained less; gating the coherence's
// statistics too cost 8 dB rooms 0.7 to 2.5 dB.
const float kGateBlend = 0.3f, kGateFromHz = 600.0f;
// The short-term interferer term lambda_1: statistics of y and u smoothed
// like the beam's short-term covariance (0.7). Its ratio |E[y u*]|^2 /
// E|u|^2^2, the beam's response to the leading interferer against the
// reference's, grows without bound as that source nears the talker's
// direction; there it is the talker itself leaking into u (steering a
// little off) or its cross-term with a weak interferer. So the term counts
// only below the ratio of a source kLeadSeparation of the spacing's delay
// away from the talker, 1 / |1 - e^(-i w s)|^2 (the beam passing it at most
// whole), and below kLeadMaxRatio (held to the bound instead, it cost 0.1
// to 0.2 dB more on scenes with one interferer). Smoothed over few frames,
// |E[y u*]|^2 holds a bias of about E|y|^2 E|u|^2 (1 - a) / (1 + a) even
// for unrelated y and u (the talker and a nulled interferer): it is taken
// off.
const float kLeadShort = 0.7f, kLeadSeparation = 0.3f, kLeadMaxRatio = 30.0f;
// 2.5 times the expected bias (1 and 2 cost 0.1 to 0.4 dB more on scenes
// with one interferer; 3 gave up a sixth of the gain with two).
const float kLeadBias = 2.5f * (1.0f - kLeadShort) / (1.0f + kLeadShort);
// A far source reaches both microphones alike: the interferer implied by
// E[x u*] must show |E[X1 u*]|^2 / |E[X0 u*]|^2 within 1.5 dB of |d1|^2.
// Where the talker's cross-term with the interferer dominates, the implied
// source is a mixture of two directions and fails this (the test halved
// the losses on scenes with one interferer; it keeps 90 % of the gain).
// In a room the talker's reverberation leaks into u and is no far source
// either: there the test narrows to 1 dB. Kept so in rooms rather than
// turned off, the term lifts 0 dB rooms by 0.2 to 0.3 dB on average and
// costs 8 dB rooms 0.1 (115 tuning rooms: mean +0.07 dB, 112 rather than
// 109 ahead of the WebRTC beamformer).
const float kLeadFar = 1.4f, kLeadFarRoom = 1.25f;
// Decision-directed a-priori SNR: 0.92 (measured better than the usual 0.98
// on diffuse noise and free-field talkers), floor -15 dB.
const float kDecision = 0.92f, kMinXi = 0.0316f;
// In rooms it leans toward 0.98 as the spatial gain's lower half finds
// the talker's share gone: where the interferer leads, its bursts then
// lift the a-priori SNR less, while the talker's onsets keep the faster
// tracking. 235 tuning rooms +0.04 dB, 201 rather than 189 ahead of the
// WebRTC beamformer by 1 dB or more (0 dB rooms +0.19, 8 dB -0.08); 51
// check rooms +0.04, every one ahead; the same rooms at 2 and 10 cm +0.05
// and +0.01, with the talker 2.5 m away -0.03. Four more 8 dB rooms end
// with a STOI up to 0.001 below microphone 0's, and the two tuning rooms
// already below fall further (-0.024 to -0.031, -0.011 to -0.015). A
// fixed 0.96 in rooms traded more: 8 dB rooms -0.22.
const float kRoomDecision = 0.98f;
// In rooms the gain's fine structure across frequency, its log less the
// mean log over 500 Hz either side, is smoothed over frames (a half)
// while the envelope follows at once: the fine structure there is mostly
// the noise estimate's error from frame to frame (smoothing the cepstrum's
// high quefrencies, Breithaupt, Gerkmann and Martin, ICASSP 2008, with a
// running mean for the liftering). The next frame's decision-directed SNR
// takes the smoothed gain. 235 tuning rooms +0.11 dB, 229 rather than 226
// ahead of the WebRTC beamformer by 1 dB or more, their shortfalls 1.1 dB
// smaller in sum, STOI +0.003 (a STOI below microphone 0's in 3 rather
// than 7); 243 check rooms +0.13 (236 rather than 230; STOI below 0 in 1
// rather than 11); at 1, 2, 3, 10 and 30 cm +0.09 to +0.12, at 8 and 48
// kHz +0.15 and +0.09, the talker 40 or 60 degrees off +0.22 and +0.24.
// Envelopes over 300 to 800 Hz either side scored alike; smoothing by
// 0.35 or 0.65 0.02 dB lower, by 0.8 0.12 lower; smoothing the whole log
// gain lost what the envelope keeps (0.1 dB); in the free field too it
// cost the free-field tuning scenes 0.7 dB.
const float kFineSmooth = 0.5f, kEnvelopeReachHz = 500.0f;
// Where a talking interferer leads much of the room (its load, below,
// from 0.30 to 0.40, weighted as the arrival direction's cue is), the fine
// structure is held instead through each bin's decay from its last onset
// (kOnsetDecay): it follows a sound's start at once and keeps through the
// tail what the start set. 540 rooms +0.10 dB (0, 5 and 8 dB +0.22, +0.07
// and +0.01; 3 rooms more than 0.2 dB lower, the worst by 0.33), as many
// short of the rooms goal; drawn after, 480, 576 and 240 rooms +0.11,
// +0.09 and +0.10 (4, 5 and 5 short rather than 7, 5 and 5; 13 rooms more
// than 0.2 dB lower, the worst by 0.52); STOI +0.002;
// 96 rooms at 1 to 4 cm +0.10 to +0.12, at 8 and 48 kHz +0.13 and +0.15,
// with the talker 15 and -20 degrees off -0.02 and +0.01 (at 10 and 30 cm
// and 40 degrees off the cue is off). Held so in every room, 0 dB rooms
// gained 0.2 to 0.3 dB, but 8 dB rooms with a far talker in a small room
// lost up to 0.6 dB and five more fell below microphone 0's STOI, and with
// the talker 15 and 40 degrees off 96 rooms lost 0.09 and 0.24 dB; from
// the interferer term's load ramp (0.32 to 0.44) it gained 0.08 dB.
const float kFineLoadLo = 0.30f, kFineLoadHi = 0.40f;
// In the free field the a-priori SNR takes a second step (two-step noise
// reduction, Plapous, Marro and Scalart, IEEE TASLP 2006): the
// decision-directed estimate leans on the last frame's speech, so it lags
// an onset by a frame and holds a decay a frame too long; the gain's
// estimate of this frame's speech, G^2 |y|^2 / lambda, re-estimates it,
// and the Wiener gain of that is the gain. 72 drawn diffuse-noise scenes
// +0.28 dB (-5 to 10 dB alike), 72 drawn after +0.25; tuning and held-out
// scenes +0.07 (free-field noise and talkers up to +0.45, none below
// -0.09). The log-spectral-amplitude gain in the second step too scored
// +0.22, +0.19 and +0.10 but cost a 16 kHz hop a second E1 (0.6 us with
// AVX2, 4 %). In rooms, whose noise estimate errs more from frame to
// frame (the gain there is smoothed over frames instead), it cost 0.06
// dB; so it fades out as the room weight rises to a half and waits for the
// first half second, within which the detector finds a room: 540 rooms
// and 480 drawn after -0.002, as many ahead of the WebRTC beamformer by 1
// dB or more; at 2 cm, where the detector misses rooms, 235 rooms -0.04
// (165 rather than 171 ahead by 1 dB or more).
const float kTwoStepRoomFade = 2.0f, kTwoStepFromSeconds = 0.5f;
// Limits of the SNRs: beyond them the gain is 1 or the floor anyway.
const float kMaxXi = 1e4f, kMaxGamma = 1e6f;
// Argument range of E1 in the gain: below, the gain is at the floor;
// above, E1 is under 1e-22 (the gain equals the Wiener factor).
const float kMinV = 1e-7f, kMaxV = 50.0f;

MVDR_INLINE float Clip(float v, float lo, float hi) { return v < lo ? lo : (v > hi ? hi : v); }
// How surely a talking interferer leads a bin, from the share around it:
// 0 at apartHi (kApartShareHi, lower off broadside) or more, 1 from a
// ramp's width below.
MVDR_INLINE float Apart(const TMvdrPost* __restrict it, float local) {
  return Clip((it->apartHi - local) / (kApartShareHi - kApartShareLo), 0.0f, 1.0f);
}
// The reference's gain for a diffuse field, E|u|^2 / E|X0|^2.
MVDR_INLINE float DiffuseGain(float dr, float di, float diffuse) {
  return dr * dr + di * di + 1.0f - 2.0f * diffuse * dr;
}
MVDR_INLINE float Floor(float power) { return power > kMvdrPowerFloor ? power : kMvdrPowerFloor; }
// Cross terms below 1e-30 go to zero (no subnormal arithmetic).
MVDR_INLINE float Flush(float v) { return __builtin_fabsf(v) < 1e-30f ? 0.0f : v; }

// Stationary tracker (after the start-up) of the beam output's noise.
MVDR_INLINE void Track_Body(TMvdrPost* __restrict it, const TMvdrSpectrum* __restrict y,
                            const float* __restrict d1Re, const float* __restrict d1Im,
                            const float* __restrict diffuse, float startWeight) {
  alignas(64) float presence[kMvdrMaxBins];  // in a loop of its own, where more bins overlap
  for (uint32_t k = 0; k < it->bins; k++) {
    const float y2 = y->re[k] * y->re[k] + y->im[k] * y->im[k];
    presence[k] = 1.0f / (1.0f + kTrackOnePlusXi * MvdrExp(-kTrackRatio * y2 / it->sigma2[k]));
  }
  for (uint32_t k = 0; k < it->bins; k++) {
    const float y2 = y->re[k] * y->re[k] + y->im[k] * y->im[k];
    const float s2 = it->sigma2[k], p1 = presence[k];
    const float sp = kTrackPSmooth * it->smoothP[k] + (1.0f - kTrackPSmooth) * p1;
    const float capped = p1 < kTrackPCap ? p1 : kTrackPCap;
    const float p1c = sp > kTrackPCap ? capped : p1;
    const float tracked = kTrackSmooth * s2 + (1.0f - kTrackSmooth) * ((1.0f - p1c) * y2 + p1c * s2);
    it->smoothP[k] = sp;
    // Start-up; the blocking reference's power, read as diffuse noise's,
    // bounds the minimum (a talker alone leaves the reference empty).
    const float smooth = startWeight * it->startSmooth[k] + (1.0f - startWeight) * y2;
    it->startSmooth[k] = smooth;
    const float startMin = kStartBias * smooth < it->startMin[k] ? kStartBias * smooth : it->startMin[k];
    it->startMin[k] = startMin;
    const float spread = DiffuseGain(d1Re[k], d1Im[k], diffuse[k]);
    const float asDiffuse = it->su[k] / (spread > kStartMinSpread ? spread : kStartMinSpread);
    const float start = startMin < asDiffuse ? startMin : asDiffuse;
    it->sigma2[k] = Floor(startWeight >= 0.0f ? start : tracked);
  }
}
MVDR_DISPATCH(Track,
              (TMvdrPost* __restrict it, const TMvdrSpectrum* __restrict y, const float* __restrict d1Re,
               const float* __restrict d1Im, const float* __restrict diffuse, float startWeight),
              (it, y, d1Re, d1Im, diffuse, startWeight))

// Below the voices' band: the start-up's minimum alone, then at least the
// biased least power of the last one to two seconds (startWeight as Track's).
void SubVoice(TMvdrPost* it, const TMvdrSpectrum* y, float startWeight) {
  const bool turn = ++it->subAt >= it->subBlockFrames;
  for (uint32_t k = 0; k < it->subBins; k++) {
    const float y2 = y->re[k] * y->re[k] + y->im[k] * y->im[k];
    const bool first = startWeight == 0.0f;
    const float smooth = first ? y2 : kStartSmooth * it->subSmooth[k] + (1.0f - kStartSmooth) * y2;
    const float now = first || smooth < it->subNow[k] ? smooth : it->subNow[k];
    const float last = first ? smooth : it->subLast[k];
    const float least = kSubBias * (now < last ? now : last);
    if (startWeight >= 0.0f)
      it->sigma2[k] = Floor(it->startMin[k]);
    else if (it->sigma2[k] < least)
      it->sigma2[k] = least;
    it->subSmooth[k] = smooth;
    it->subNow[k] = turn ? smooth : now;
    it->subLast[k] = turn ? now : last;
  }
  if (turn) it->subAt = 0;
}

// The reference term, weighted by how directional the noise is; the noise
// estimate is the larger of it and the (weighted) stationary track. Four
// loops rather than one: each bin's chain of divisions and roots is long,
// and in shorter loops the processor overlaps more bins.
MVDR_INLINE void Reference_Body(TMvdrPost* __restrict it, const TMvdrSpectrum* __restrict y,
                                const TMvdrSpectrum* __restrict x0, const TMvdrSpectrum* __restrict x1,
                                const float* __restrict d1Re, const float* __restrict d1Im,
                                const float* __restrict presence, const float* __restrict diffuse,
                                float refWeight, float stationaryWeight, float leadWeight, float farTolerance,
                                float gate, float leadLeak) {
  alignas(64) float leak[kMvdrMaxBins], norm[kMvdrMaxBins];
  for (uint32_t k = 0; k < it->bins; k++) {
    const float y2 = y->re[k] * y->re[k] + y->im[k] * y->im[k];
    float ur, ui;
    MvdrReference(x0, x1, d1Re[k], d1Im[k], k, &ur, &ui);
    const float u2 = ur * ur + ui * ui;
    // The ratio's presence, gated by the share's verdict (above gateLo).
    const float above = presence[k] - (1.0f - Apart(it, it->localShare[k]));
    const float gated = presence[k] - (k >= it->gateLo ? gate : 0.0f) * (above > 0.0f ? above : 0.0f);
    const float ar = kRefForget + (1.0f - kRefForget) * gated, br = 1.0f - ar;
    const float ny = Floor(ar * it->ny[k] + br * y2), nu = Floor(ar * it->nu[k] + br * u2);
    const float su = Floor(kRefShort * it->su[k] + (1.0f - kRefShort) * u2);
    const float talker = kLeakSmooth * it->talker[k] + (1.0f - kLeakSmooth) * it->prevSpeech[k];
    leak[k] = kLeakShare * DiffuseGain(d1Re[k], d1Im[k], diffuse[k]) * talker;
    const float less = su - leak[k], suLess = less > kLeakKeep * su ? less : kLeakKeep * su;
    it->talker[k] = talker;
    it->ny[k] = ny, it->nu[k] = nu, it->su[k] = su;
    const float ratio = ny / nu, learned = ratio < kRefMaxRatio ? ratio : kRefMaxRatio;
    it->reference[k] = learned * suLess;
  }
  // Coherence of the noise.
  TMvdrCov* __restrict c = &it->coherence;
  for (uint32_t k = 0; k < it->bins; k++) {
    const float a = kRefForget + (1.0f - kRefForget) * presence[k], b = 1.0f - a;
    const float p0 = x0->re[k] * x0->re[k] + x0->im[k] * x0->im[k];
    const float p1 = x1->re[k] * x1->re[k] + x1->im[k] * x1->im[k];
    const float c00 = Floor(a * c->p00[k] + b * p0), c11 = Floor(a * c->p11[k] + b * p1);
    const float cr = Flush(a * c->re01[k] + b * (x0->re[k] * x1->re[k] + x0->im[k] * x1->im[k]));
    const float ci = Flush(a * c->im01[k] + b * (x0->im[k] * x1->re[k] - x0->re[k] * x1->im[k]));
    c->p00[k] = c00, c->p11[k] = c11, c->re01[k] = cr, c->im01[k] = ci;
    norm[k] = 1.0f / sqrtf(c00 * c11);
  }
  for (uint32_t k = 0; k < it->bins; k++) {
    const float gr = c->re01[k] * norm[k] - diffuse[k], gi = c->im01[k] * norm[k];
    const float spread = sqrtf(gr * gr + gi * gi) / (1.0f - diffuse[k] + 1e-6f);
    const float directional = diffuse[k] > kDirAlike ? 1.0f : Clip((spread - kDirLo) / kDirSpan, 0.0f, 1.0f);
    const float refNoise = refWeight * directional * it->reference[k];
    const float stationary = stationaryWeight * it->sigma2[k];
    it->noise[k] = stationary > refNoise ? stationary : refNoise;
  }
  for (uint32_t k = 0; k < it->bins; k++) {
    const float y2 = y->re[k] * y->re[k] + y->im[k] * y->im[k];
    float ur, ui;
    MvdrReference(x0, x1, d1Re[k], d1Im[k], k, &ur, &ui);
    const float u2 = ur * ur + ui * ui;
    const float yr = y->re[k], yi = y->im[k];
    const float yuRe = Flush(kLeadShort * it->yuRe[k] + (1.0f - kLeadShort) * (yr * ur + yi * ui));
    const float yuIm = Flush(kLeadShort * it->yuIm[k] + (1.0f - kLeadShort) * (yi * ur - yr * ui));
    const float uLess = u2 - leadLeak * leak[k], u2Lead = uLess > kLeakKeep * u2 ? uLess : kLeakKeep * u2;
    const float uu = Floor(kLeadShort * it->uu[k] + (1.0f - kLeadShort) * u2Lead);
    const float yy = kLeadShort * it->yy[k] + (1.0f - kLeadShort) * y2;
    const float x0r = x0->re[k], x0i = x0->im[k];
    const float xuRe = Flush(kLeadShort * it->xuRe[k] + (1.0f - kLeadShort) * (x0r * ur + x0i * ui));
    const float xuIm = Flush(kLeadShort * it->xuIm[k] + (1.0f - kLeadShort) * (x0i * ur - x0r * ui));
    it->yuRe[k] = yuRe, it->yuIm[k] = yuIm, it->uu[k] = uu, it->yy[k] = yy;
    it->xuRe[k] = xuRe, it->xuIm[k] = xuIm;
    // X1 = d1 X0 - u, so E[X1 u*] = d1 E[X0 u*] - E|u|^2.
    const float a1r = d1Re[k] * xuRe - d1Im[k] * xuIm - uu, a1i = d1Re[k] * xuIm + d1Im[k] * xuRe;
    const float m1 = a1r * a1r + a1i * a1i;
    const float m0 = (d1Re[k] * d1Re[k] + d1Im[k] * d1Im[k]) * (xuRe * xuRe + xuIm * xuIm);
    const bool far = (m1 < farTolerance * m0) & (m0 < farTolerance * m1);
    const float explained = (yuRe * yuRe + yuIm * yuIm) / uu - kLeadBias * yy;
    it->lead[k] = far & (explained < it->leadCap[k] * uu) ? leadWeight * explained : 0.0f;
  }
}
MVDR_DISPATCH(Reference,
              (TMvdrPost* __restrict it, const TMvdrSpectrum* __restrict y,
               const TMvdrSpectrum* __restrict x0, const TMvdrSpectrum* __restrict x1,
               const float* __restrict d1Re, const float* __restrict d1Im, const float* __restrict presence,
               const float* __restrict diffuse, float refWeight, float stationaryWeight, float leadWeight,
               float farTolerance, float gate, float leadLeak),
              (it, y, x0, x1, d1Re, d1Im, presence, diffuse, refWeight, stationaryWeight, leadWeight, farTolerance,
               gate, leadLeak))

// Per bin, the talker direction's share of the frame (and smoothed over
// frames) and the frame's power. The noise field's share is
// d^H C d / (|d|^2 tr C), C the noise covariance of the coherence term.
MVDR_INLINE void Share_Body(TMvdrPost* __restrict it, const TMvdrSpectrum* __restrict x0,
                            const TMvdrSpectrum* __restrict x1, const float* __restrict d1Re,
                            const float* __restrict d1Im) {
  const TMvdrCov* __restrict c = &it->coherence;
  for (uint32_t k = 0; k < it->bins; k++) {
    const float dr = d1Re[k], di = d1Im[k], dd = 1.0f + dr * dr + di * di;
    // d^H x = X0 + conj(d1) X1
    const float tr = x0->re[k] + dr * x1->re[k] + di * x1->im[k];
    const float ti = x0->im[k] + dr * x1->im[k] - di * x1->re[k];
    const float power = Floor(x0->re[k] * x0->re[k] + x0->im[k] * x0->im[k] + x1->re[k] * x1->re[k] +
                              x1->im[k] * x1->im[k]);
    const float share = (tr * tr + ti * ti) / (dd * power);
    const float held = c->p00[k] + 2.0f * (c->re01[k] * dr - c->im01[k] * di) + (dd - 1.0f) * c->p11[k];
    const float noise = held / (dd * (c->p00[k] + c->p11[k]));
    const float rescaled = Clip((share - noise) / (1.0f - noise + kShareMargin), 0.0f, 1.0f);
    it->share[k] = rescaled;
    it->sharePower[k] = power;
    it->heldShare[k] = kShareSmooth * it->heldShare[k] + (1.0f - kShareSmooth) * rescaled;
  }
}
MVDR_DISPATCH(Share,
              (TMvdrPost* __restrict it, const TMvdrSpectrum* __restrict x0,
               const TMvdrSpectrum* __restrict x1, const float* __restrict d1Re,
               const float* __restrict d1Im),
              (it, x0, x1, d1Re, d1Im))

// In rooms: per bin, the weight a frame's share and gap get in their hold,
// by how much of the bin's power is new, and the share held so.
MVDR_INLINE void Onset_Body(TMvdrPost* __restrict it) {
  for (uint32_t k = 0; k < it->bins; k++) {
    const float power = it->sharePower[k], decayed = kOnsetDecay * it->lastPower[k];
    const float onset = kOnsetLeast + (1.0f - kOnsetLeast) * (power > decayed ? 1.0f - decayed / power : 0.0f);
    it->onset[k] = onset;
    it->lastPower[k] = power;
    it->onsetShare[k] += onset * (it->share[k] - it->onsetShare[k]);
  }
}
MVDR_DISPATCH(Onset, (TMvdrPost* __restrict it), (it))

// In rooms: per bin, the gap between the arrival direction and the
// talker's as a difference of sines (up to 1), held through the bin's
// decay from its last onset.
MVDR_INLINE void Gap_Body(TMvdrPost* __restrict it, const TMvdrSpectrum* __restrict x0,
                          const TMvdrSpectrum* __restrict x1, const float* __restrict d1Re,
                          const float* __restrict d1Im) {
  for (uint32_t k = 0; k < it->bins; k++) {
    // X1 X0* d1*: the talker's phase turned to 0.
    const float cr = x1->re[k] * x0->re[k] + x1->im[k] * x0->im[k];
    const float ci = x1->im[k] * x0->re[k] - x1->re[k] * x0->im[k];
    const float re = cr * d1Re[k] + ci * d1Im[k], im = ci * d1Re[k] - cr * d1Im[k];
    const float gap = MvdrAbsAtan2Coarse(im, re) * it->perSine[k];
    it->heldGap[k] += it->onset[k] * ((gap < 1.0f ? gap : 1.0f) - it->heldGap[k]);
  }
}
MVDR_DISPATCH(Gap,
              (TMvdrPost* __restrict it, const TMvdrSpectrum* __restrict x0,
               const TMvdrSpectrum* __restrict x1, const float* __restrict d1Re,
               const float* __restrict d1Im),
              (it, x0, x1, d1Re, d1Im))

// In rooms: the share above shapeLo blended (by blend) with the nearness
// of the arrival direction around each bin.
MVDR_INLINE void Near_Body(TMvdrPost* __restrict it, float blend) {
  for (uint32_t k = it->shapeLo; k < it->bins; k++) {
    const float nearness = Clip((kGapFar - it->localGap[k]) / (kGapFar - kGapNear), 0.0f, 1.0f);
    it->localShare[k] += blend * (nearness - it->localShare[k]);
  }
}
MVDR_DISPATCH(Near, (TMvdrPost* __restrict it, float blend), (it, blend))

// The noise estimate by the share around each bin: the stationary and
// reference terms cut where the talker leads (weight cut), lambda_1 so in
// rooms only, and in rooms at least the unscaled reference term where the
// talker's direction explains little. Below shapeLo the larger term.
MVDR_INLINE void Shape_Body(TMvdrPost* __restrict it, float room, float cut, float apartWeight) {
  const float* __restrict local = it->localShare;
  for (uint32_t k = 0; k < it->shapeLo; k++) it->noise[k] = it->noise[k] > it->lead[k] ? it->noise[k] : it->lead[k];
  for (uint32_t k = it->shapeLo; k < it->bins; k++) {
    const float leads = Clip((local[k] - it->leadsLo) / (kLeadsShareHi - kLeadsShareLo), 0.0f, 1.0f);
    const float kept = Floor(it->noise[k] * (1.0f - cut * kLeadsCut * leads));
    const float lead = it->lead[k] * (1.0f - room * kLeadsCut * leads);
    const float apart = apartWeight * Apart(it, local[k]) * it->reference[k];
    const float larger = kept > lead ? kept : lead;
    it->noise[k] = apart > larger ? apart : larger;
  }
}
MVDR_DISPATCH(Shape, (TMvdrPost* __restrict it, float room, float cut, float apartWeight),
              (it, room, cut, apartWeight))

// The gain from the noise estimate: the log-spectral-amplitude gain of the
// decision-directed a-priori SNR; with twoStep (0..1), moved that far
// toward the Wiener gain of the second step's.
MVDR_INLINE void Gain_Body(TMvdrPost* __restrict it, const TMvdrSpectrum* __restrict y, float decision,
                           float twoStep) {
  alignas(64) float posterior[kMvdrMaxBins], v[kMvdrMaxBins];
  for (uint32_t k = 0; k < it->bins; k++) {
    const float y2 = y->re[k] * y->re[k] + y->im[k] * y->im[k];
    const float lambda = it->noise[k];
    const float gamma = Clip(y2 / lambda, 0.0f, kMaxGamma);
    const float dd =
        decision * it->prevSpeech[k] / lambda + (1.0f - decision) * (gamma > 1.0f ? gamma - 1.0f : 0.0f);
    const float xi = Clip(dd, kMinXi, kMaxXi);
    const float wiener = xi / (1.0f + xi);
    posterior[k] = gamma;
    it->gain[k] = wiener;
    v[k] = Clip(wiener * gamma, kMinV, kMaxV);
  }
  for (uint32_t k = 0; k < it->bins; k++) v[k] = 0.5f * MvdrE1(v[k]);
  for (uint32_t k = 0; k < it->bins; k++) it->gain[k] = Clip(it->gain[k] * MvdrExp(v[k]), it->floorGain, 1.0f);
  if (twoStep > 0.0f) {
    for (uint32_t k = 0; k < it->bins; k++) {
      const float g = it->gain[k], xi = Clip(g * g * posterior[k], kMinXi, kMaxXi);
      it->gain[k] = Clip(g + twoStep * (xi / (1.0f + xi) - g), it->floorGain, 1.0f);
    }
  }
}
MVDR_DISPATCH(Gain, (TMvdrPost* __restrict it, const TMvdrSpectrum* __restrict y, float decision, float twoStep),
              (it, y, decision, twoStep))

// In rooms: the gain's logarithm, whose envelope the smoothing keeps.
MVDR_INLINE void LogGain_Body(TMvdrPost* __restrict it) {
  for (uint32_t k = 0; k < it->bins; k++) it->logGain[k] = MvdrLn(it->gain[k]);
}
MVDR_DISPATCH(LogGain, (TMvdrPost* __restrict it), (it))

// In rooms: the gain's fine structure (its log less the envelope)
// smoothed over frames, or as far as onsets (0..1) says held through each
// bin's decay from its last onset, weighted by the room.
MVDR_INLINE void Smooth_Body(TMvdrPost* __restrict it, float room, float onsets) {
  for (uint32_t k = 0; k < it->bins; k++) {
    const float fine = it->logGain[k] - it->envelope[k];
    const float now = (1.0f - kFineSmooth) + onsets * (it->onset[k] - (1.0f - kFineSmooth));
    const float held = it->fineHeld[k] + now * (fine - it->fineHeld[k]);
    it->fineHeld[k] = held;
    it->gain[k] = Clip(MvdrExp(it->logGain[k] + room * (held - fine)), it->floorGain, 1.0f);
  }
}
MVDR_DISPATCH(Smooth, (TMvdrPost* __restrict it, float room, float onsets), (it, room, onsets))

// The gain times the spatial gain of the bin's half (lower below the
// split; spared in part where the bin follows the talker's envelope)
// applied to y; the next frame's decision-directed SNR takes it.
MVDR_INLINE void Apply_Body(TMvdrPost* __restrict it, TMvdrSpectrum* __restrict y, float lower, float upper) {
  const float* __restrict follows = it->comod.follows;
  for (uint32_t k = 0; k < it->bins; k++) {
    const float half = k < it->maskSplit ? lower : upper, spared = follows[k] > 0.0f ? follows[k] : 0.0f;
    const float g = it->gain[k], frameGain = half + (1.0f - half) * kComodSpare * spared;
    const float y2 = y->re[k] * y->re[k] + y->im[k] * y->im[k];
    it->prevSpeech[k] = g * g * y2;
    y->re[k] *= g * frameGain;
    y->im[k] *= g * frameGain;
  }
}
MVDR_DISPATCH(Apply, (TMvdrPost* __restrict it, TMvdrSpectrum* __restrict y, float lower, float upper),
              (it, y, lower, upper))

// The spatial gain of bins from..to: their power-weighted share (held
// through each bin's decay), risen at once or released (mask holds it), to the power
// maskPower, weighted by the room.
float SpatialGain(TMvdrPost* it, uint32_t from, uint32_t to, float* mask, float room) {
  float shared = 0.0f, power = 0.0f;
  for (uint32_t k = from; k < to; k++) {
    shared += it->sharePower[k] * it->onsetShare[k], power += it->sharePower[k];
  }
  const float share = power > 0.0f ? shared / power : 1.0f;
  *mask = share > *mask ? share : kMaskRelease * *mask + (1.0f - kMaskRelease) * share;
  const float g = MvdrExp(it->maskPower * MvdrLn(*mask));
  return 1.0f - room * (1.0f - (g > it->floorGain ? g : it->floorGain));
}

// How far the room's interferer load has risen from lo to hi (0..1),
// weighted as the arrival direction's cue is: where that cue is off, the
// share the load is read from misleads.
float Loaded(const TMvdrPost* it, float lo, float hi) {
  return it->gapWeight * Clip((it->apartLoad - lo) / (hi - lo), 0.0f, 1.0f);
}

// In rooms: the room's interferer load, the power-weighted mean of Apart
// over the bins the share reshapes, held over frames, updated with this
// frame's; and the interferer term's weight it sets.
float ApartWeight(TMvdrPost* it) {
  float apart = 0.0f, power = 0.0f;
  for (uint32_t k = it->shapeLo; k < it->bins; k++) {
    apart += it->sharePower[k] * Apart(it, it->localShare[k]), power += it->sharePower[k];
  }
  if (power > 0.0f) it->apartLoad += (1.0f - it->loadKeep) * (apart / power - it->apartLoad);
  return kApartWeight + Loaded(it, kApartLoadLo, kApartLoadHi) * (kApartWeightLoaded - kApartWeight);
}

// The two talkers' envelopes for the co-modulation cue: the frame's power
// from 1 to 4 kHz weighted by each bin's share (held through its decay) to the eighth
// power, and by one less it to the eighth, so that only bins one talker
// clearly leads count toward its envelope.
void Envelopes(const TMvdrPost* it, float* talker, float* interferer) {
  float t = 0.0f, i = 0.0f;
  for (uint32_t k = it->splitLo; k < it->splitHi; k++) {
    const float s = it->onsetShare[k], r = 1.0f - s;
    const float s2 = s * s, s4 = s2 * s2, r2 = r * r, r4 = r2 * r2;
    t += s4 * s4 * it->sharePower[k], i += r4 * r4 * it->sharePower[k];
  }
  *talker = t, *interferer = i;
}

}  // namespace

void MvdrPost_Init(TMvdrPost* it, uint32_t rate, uint32_t n, float floorDb) {
  it->bins = n / 2 + 1;
  it->startFrames = MvdrHops(kStartSeconds, rate, n);
  it->twoStepFrames = MvdrHops(kTwoStepFromSeconds, rate, n);
  it->loadKeep = 1.0f - 1.0f / (float)MvdrHops(kApartLoadSeconds, rate, n);
  const uint32_t lo = (uint32_t)(kMaskLoHz * n / rate), hi = (uint32_t)(kMaskHiHz * n / rate);
  it->maskLo = lo < n / 2 ? lo : n / 2;
  it->maskHi = hi < n / 2 ? hi : n / 2;
  it->maskSplit = (it->maskLo + it->maskHi) / 2;
  const uint32_t splitHi = (uint32_t)(kSplitHiHz * n / rate);
  it->splitLo = (uint32_t)(kSplitLoHz * n / rate);
  it->splitHi = splitHi < n / 2 ? splitHi : n / 2;
  it->shapeLo = (uint32_t)(kShapeFromHz * n / rate);
  it->shareReach = (uint32_t)(kShareReachHz * n / rate + 0.5f);
  it->envelopeReach = (uint32_t)(kEnvelopeReachHz * n / rate + 0.5f);
  it->gateLo = (uint32_t)(kGateFromHz * n / rate);
  const uint32_t sub = (uint32_t)ceilf(kSubVoiceHz * n / rate);
  it->subBins = sub < (uint32_t)kMvdrSubVoiceBins ? sub : (uint32_t)kMvdrSubVoiceBins;
  it->subBlockFrames = MvdrHops(kSubBlockSeconds, rate, n);
  MvdrHarmonic_Init(&it->harmonic, rate, n);
  MvdrComod_Init(&it->comod, rate, n);
  MvdrPost_SetFloor(it, floorDb);
  MvdrPost_Reset(it);
}

void MvdrPost_SetFloor(TMvdrPost* it, float floorDb) { it->floorGain = powf(10.0f, floorDb / 20.0f); }

void MvdrPost_SetGeometry(TMvdrPost* it, const float* omega, uint32_t rate, float distance, float tau) {
  const float spacing = distance / kMvdrSoundSpeed * (float)rate;  // in samples
  const float broadside = Clip(1.0f - __builtin_fabsf(tau) / (spacing * kGapSineOff), 0.0f, 1.0f);
  it->gapWeight = broadside * Clip((kGapWideTo - distance) / (kGapWideTo - kGapWideFrom), 0.0f, 1.0f);
  const float small = Clip((kLeadsShiftNone - distance) / (kLeadsShiftNone - kLeadsShiftFull), 0.0f, 1.0f);
  const float off = 1.0f - broadside;  // how far the ramps and the spatial gain's power move down
  it->leadsLo = kLeadsShareLo - kLeadsShift * small - kOffLeadsShift * off;
  it->apartHi = kApartShareHi - kOffApartShift * off;
  it->maskPower = kMaskPower - kOffMaskDrop * off;
  for (uint32_t k = 0; k < it->bins; k++) {
    it->perSine[k] = k > 0 ? 1.0f / (omega[k] * spacing) : 0.0f;  // DC: no phase, no direction
    const float half = sinf(0.5f * kLeadSeparation * spacing * omega[k]);
    const float apart = 4.0f * half * half;
    it->leadCap[k] = apart * kLeadMaxRatio > 1.0f ? 1.0f / apart : kLeadMaxRatio;
  }
}

void MvdrPost_Reset(TMvdrPost* it) {
  it->frames = it->subAt = 0;
  MvdrHarmonic_Reset(&it->harmonic);
  MvdrComod_Reset(&it->comod);
  it->mask[0] = it->mask[1] = 1.0f;
  it->apartLoad = kApartLoadLo;
  memset(&it->coherence, 0, sizeof it->coherence);
  for (uint32_t k = 0; k < kMvdrMaxBins; k++) {
    it->sigma2[k] = it->startMin[k] = kStartSigma2;
    it->startSmooth[k] = it->ny[k] = it->nu[k] = it->su[k] = kMvdrPowerFloor;
    it->coherence.p00[k] = it->coherence.p11[k] = kMvdrPowerFloor;
    it->smoothP[k] = it->prevSpeech[k] = it->talker[k] = 0.0f;
    it->gain[k] = 1.0f;
    it->logGain[k] = it->envelope[k] = it->fineHeld[k] = 0.0f;
    it->share[k] = it->sharePower[k] = it->heldShare[k] = it->localShare[k] = 0.0f;
    it->heldGap[k] = it->localGap[k] = 0.0f;
    it->onset[k] = it->lastPower[k] = it->onsetShare[k] = 0.0f;
    it->yuRe[k] = it->yuIm[k] = it->yy[k] = it->xuRe[k] = it->xuIm[k] = 0.0f;
    it->uu[k] = kMvdrPowerFloor;
  }
}

void MvdrPost_Apply(TMvdrPost* it, TMvdrSpectrum* y, const TMvdrSpectrum* x0, const TMvdrSpectrum* x1,
                    const float* d1Re, const float* d1Im, const float* presence, const float* diffuse,
                    float refWeight, float room, float leadWeight) {
  const float start = it->frames >= it->startFrames ? -1.0f : it->frames == 0 ? 0.0f : kStartSmooth;
  if (it->frames < it->twoStepFrames) it->frames++;
  Track(it, y, d1Re, d1Im, diffuse, start);
  SubVoice(it, y, start);
  Reference(it, y, x0, x1, d1Re, d1Im, presence, diffuse, refWeight * (1.0f - kRoomRefCut * room),
            1.0f - kRoomStationaryCut * room, leadWeight, kLeadFar + room * (kLeadFarRoom - kLeadFar),
            room * kGateBlend, room);
  Share(it, x0, x1, d1Re, d1Im);
  MvdrAround(it->heldShare, it->localShare, it->bins, it->shareReach);
  float apartWeight = 0.0f;
  if (room > 0.0f) {
    Onset(it);
    MvdrHarmonic_Attribute(&it->harmonic, y, x0, x1, d1Re, d1Im, it->comod.follows, room, it->localShare);
    float talker, interferer;
    Envelopes(it, &talker, &interferer);
    MvdrComod_Attribute(&it->comod, y, x0, x1, d1Re, d1Im, talker, interferer, room, it->localShare);
    if (it->gapWeight > 0.0f) {
      Gap(it, x0, x1, d1Re, d1Im);
      MvdrAround(it->heldGap, it->localGap, it->bins, it->shareReach);
      Near(it, kGapBlend * it->gapWeight * room);
    }
    apartWeight = room * ApartWeight(it);  // from the share as all the cues leave it
  }
  Shape(it, room, room > leadWeight ? room : leadWeight, apartWeight);
  float lower = 1.0f, upper = 1.0f;
  if (room > 0.0f) {
    lower = SpatialGain(it, it->maskLo, it->maskSplit, &it->mask[0], room);
    upper = SpatialGain(it, it->maskSplit, it->maskHi, &it->mask[1], room);
  }
  const float decision = kDecision + room * (kRoomDecision - kDecision) * (1.0f - it->mask[0]);
  const float fade = 1.0f - kTwoStepRoomFade * room;
  Gain(it, y, decision, it->frames >= it->twoStepFrames && fade > 0.0f ? fade : 0.0f);
  if (room > 0.0f) {
    LogGain(it);
    MvdrAround(it->logGain, it->envelope, it->bins, it->envelopeReach);
    Smooth(it, room, Loaded(it, kFineLoadLo, kFineLoadHi));
  }
  Apply(it, y, lower, upper);
}
