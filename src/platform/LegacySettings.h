#pragma once

#include <QString>
#include <map>
#include <string>

namespace korvo {

// The settings as versions of the connector before the settings file kept them: through
// QSettings, in its INI form, either in Qt's native place for organization "Korvo" and
// application "Korvo Connector" ($XDG_CONFIG_HOME/Korvo/Korvo Connector.conf, or ~/.config/…,
// together with the organization-wide Korvo.conf beside it and the system-wide ones under
// $XDG_CONFIG_DIRS, which QSettings consulted too), or in the INI file that KORVO_SETTINGS_FILE
// named. Read with QSettings itself, so each value is what those versions read: the keys of the
// default section that hold a string; lists and other kinds of value read as missing there and
// are left out. Empty `iniFile` means the native place.
std::map<std::string, std::string, std::less<>> legacySettings(const QString& iniFile);

} // namespace korvo
