// Scalar types of the engine. int32/uint32 name the platform's long, so they
// are 64 bits wide on 64-bit builds; code that needs exact 32-bit behaviour
// (the fixed-point helpers) converts explicitly.
#ifndef MICARRAY_FIXED_H
#define MICARRAY_FIXED_H

typedef signed char int8;
typedef unsigned char uint8;
typedef short int16;
typedef unsigned short uint16;
typedef long int32;
typedef unsigned long uint32;
typedef long long int64;
typedef unsigned long long uint64;
typedef float float32;

#endif
