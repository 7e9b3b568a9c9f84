#include "fix.h"
