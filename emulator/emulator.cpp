#include "emulator.h"
