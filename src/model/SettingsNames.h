#pragma once

namespace korvo {

// Where the connector's settings live: QSettings' native place for this organization and
// application, or the INI file that the environment variable names (tests and portable setups).
// The command line's quick snapshot reads the same file without Qt.
inline constexpr const char* kSettingsOrganization = "Korvo";
inline constexpr const char* kSettingsApplication = "Korvo Connector";
inline constexpr const char* kSettingsFileVariable = "KORVO_SETTINGS_FILE";

} // namespace korvo
