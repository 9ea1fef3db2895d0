#include "ui/StatusIcon.h"
