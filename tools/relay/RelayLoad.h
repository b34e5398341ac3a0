#pragma once

#include <string>
#include <vector>

namespace korvo::relayserver {

struct LoadReport {
    int devices = 0;
    int uploads = 0;          // uploads attempted
    int failedUploads = 0;    // answers other than 200 with the snapshot's id
    int mismatchedLatest = 0; // devices whose latest snapshot did not read back byte for byte
    double seconds = 0;       // wall time of the upload phase
    double p50Ms = 0;
    double p99Ms = 0;
    double maxMs = 0;
    std::vector<std::string> problems; // the first few failures, for the report

    bool lostNothing() const { return failedUploads == 0 && mismatchedLatest == 0; }
    std::string summary() const;
};

// Pairs `devices` connectors with the relay at host:port (session, phone claim, poll), then
// uploads `uploads` distinct snapshots spread evenly over them: every device on its own thread
// with its own keep-alive connection, all starting together. Finally reads every device's
// latest snapshot with its phone's token and compares it with the last body it uploaded.
LoadReport runUploadLoad(const std::string& host, int port, int devices, int uploads);

} // namespace korvo::relayserver
