#pragma once
#include "model/Station.h"

namespace ovrin {

inline constexpr const char* kSettingsFileName = "Ovrin-Bridge.ini";
// The options the record has no room for, as text beside it.
inline constexpr const char* kOptionsFileName = "Ovrin-Server.conf";
std::string SettingsFilePath(const Station& station);
std::string OptionsFilePath(const Station& station);

// What a load found: whether the server listened when the settings were saved, and
// whether the defaults were applied (to be saved once the start has listened).
struct LoadedSettings {
    bool listen = false;
    bool defaults = false;
};
// Reads the files into the window, with the settings given for this run over them.
// Nothing is keyed, opened or asked here: the caller starts listening.
LoadedSettings LoadSettings(Station& station);
void SaveSettings(Station& station);
// The defaults into the window (a first start, a file that cannot be used).
void ApplyDefaults(Station& station);

}  // namespace ovrin
