#include "wav.h"
