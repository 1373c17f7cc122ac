#include "io/png_io.h"
