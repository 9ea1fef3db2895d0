#include "net/Inbound.h"
