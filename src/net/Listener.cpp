#include "net/Listener.h"
