#pragma once

// The display texts of the connector's state: one function per concern, and the only place
// that knows these words. Everything else compares the typed values of ConnectorState.h.

#include "core/ConnectorState.h"

#include <QString>
#include <optional>

namespace korvo {

QString connectionStatusText(ConnectionStatus status);
QString errorText(const ConnectorError& error);
// The failure on display, if any.
std::optional<QString> errorText(const std::optional<ConnectorError>& error);
QString uploadStatusText(const UploadState& upload);
QString uploadErrorText(const UploadState& upload);
QString collectStatusText(const CollectState& collect);
QString parserErrorText(const std::optional<ParserError>& error);
QString sourceDiagnosticStatusText(const SourceDiagnosticsState& sources);
QString autoSyncStatusText(AutoSyncState::Status status);
QString powerStatusText(const AutoSyncState& autoSync);
QString relayHealthText(const RelayState& relay);
// The warning shown wherever the relay URL is, when requests to it travel unencrypted.
std::optional<QString> relayTransportWarningText(const RelayState& relay);
QString relayEnvironmentText(const RelayState& relay);
QString deviceListStatusText(const RelayState& relay);
QString deviceListErrorText(const RelayState& relay);
QString loginItemStatusText(const LoginItemState& loginItem);
QString updateStatusText(const UpdateState& updates);

} // namespace korvo
