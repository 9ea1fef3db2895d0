#include "serial/Receive.h"
