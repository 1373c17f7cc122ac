#include "io/output_set.h"
