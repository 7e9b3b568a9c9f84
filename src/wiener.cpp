#include "wiener.h"
