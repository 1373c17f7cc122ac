#include "velmora_engine.h"
