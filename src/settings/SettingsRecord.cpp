#include "settings/SettingsRecord.h"
