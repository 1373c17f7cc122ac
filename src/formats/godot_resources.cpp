#include "formats/sheet.h"
