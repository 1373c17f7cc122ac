#include "io/file_io.h"
