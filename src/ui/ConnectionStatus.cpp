#include "ui/ConnectionStatus.h"
