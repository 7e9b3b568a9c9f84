#include "sdirect10a.h"
