#include "serial/SerialPort.h"
