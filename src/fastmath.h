// Arc tangents, cosines and sines as the engine uses them: evaluated in
// double precision on single-precision arguments and rounded back to single
// precision. Every function returns exactly the float that the C library's
// double result rounds to, for every argument: a fast evaluation is kept only
// when no float rounding boundary lies within its error bound (plus the
// library's), otherwise the element is handed to the C library.
#ifndef MICARRAY_FASTMATH_H
#define MICARRAY_FASTMATH_H

#include "com_struct.h"

// Table grids: points i/32 for the arc tangent, i/4 for the cosine and sine.
enum { kFastMathAtanGrid = 32, kFastMathCosSinGrid = 4, kFastMathAtanPoints = 33, kFastMathCosSinPoints = 33 };

// cos(i/4) and sin(i/4) for i = 0 .. 32 (0 to 8 radians), and atan(i/32) for
// i = 0 .. 32 (0 to 1), each the double nearest the exact value.
extern const double m_arCosTable64f[kFastMathCosSinPoints];
extern const double m_arSinTable64f[kFastMathCosSinPoints];
extern const double m_arAtanTable64f[kFastMathAtanPoints];

// y[i] = (float)atan((double)x[i])
void FastMath_atan(const mfloat* x, mfloat* y, uint32 n);
// r[i] = (float)atan2((double)y[i], (double)x[i])
void FastMath_atan2(const mfloat* y, const mfloat* x, mfloat* r, uint32 n);
// c[i] = (float)cos((double)x[i])
void FastMath_cos(const mfloat* x, mfloat* c, uint32 n);
// c[i] = (float)cos((double)x[i]), s[i] = (float)sin((double)x[i])
void FastMath_sincos(const mfloat* x, mfloat* c, mfloat* s, uint32 n);

#endif
