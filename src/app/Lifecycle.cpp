#include "app/Lifecycle.h"
