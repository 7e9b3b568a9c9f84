// Fixed-point helpers with 32-bit two's-complement semantics, whatever the
// width of the platform's long (which int32 names).
#ifndef MICARRAY_FIX_H
#define MICARRAY_FIX_H

#include "fixed.h"

// Newton starting values floor(sqrt(2^k)) by highest set bit k (with five
// adjusted entries).
extern const int32 Roots32_coeff[63];
// Newton correction factors of Sqrt32, by the top five mantissa bits (Q15).
extern const int16 Sqrt32_aCoef[32];

int32 abs32(int32 x);
int16 mult1(int16 var1, int16 var2);
int32 Mul32x16H(int32 Value1, int16 Value2);
int32 L_add(int32 L_var1, int32 L_var2);
int32 L_sub(int32 L_var1, int32 L_var2);
int16 Exp(int32 Value);
int32 Order32(int32 Z);
int32 Order64(int64 Z);
int16 Sqrt32(int32 L_Value);
int32 L_Sqrt32(int32 L);
int64 Sqrt64(int64 L);

#endif
