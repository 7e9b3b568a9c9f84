#include "fdafn12_mul.h"
