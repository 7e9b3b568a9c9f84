#include "fdafn12.h"
