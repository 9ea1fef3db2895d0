#include "serial/Ptt.h"
