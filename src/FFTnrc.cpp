#include "FFTnrc.h"
