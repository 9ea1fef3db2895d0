#pragma once
#include "app/frmMain.h"

namespace ovrin {

inline constexpr const char* kSettingsFileName = "Ovrin-Bridge.ini";
std::string SettingsFilePath(const frmMain& f);

void LoadSettings(frmMain& f);
void SaveSettings(frmMain& f);
void ApplyDefaults(frmMain& f);

}  // namespace ovrin
