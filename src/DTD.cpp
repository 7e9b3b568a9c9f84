#include "DTD.h"
