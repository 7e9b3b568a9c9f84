#include "micarray_core.h"
