#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace korvo::relayserver {

struct LoadReport {
    int devices = 0;
    int uploads = 0;          // uploads attempted
    int failedUploads = 0;    // answers other than 200 with the snapshot's id
    int mismatchedLatest = 0; // devices whose latest snapshot did not read back byte for byte
    int retried = 0;          // uploads sent again after an error or no answer
    double seconds = 0;       // wall time of the upload phase
    double p50Ms = 0;
    double p99Ms = 0;
    double maxMs = 0;
    std::vector<std::string> problems; // the first few failures, for the report

    bool lostNothing() const { return failedUploads == 0 && mismatchedLatest == 0; }
    std::string summary() const;
};

// Where a load run sends each kind of request: relays sharing one database may be different
// processes.
struct LoadTargets {
    std::string host = "127.0.0.1";
    int pairPort = 0;   // pairing sessions, claims and polls
    int uploadPort = 0; // uploads
    int readPort = 0;   // reading the latest snapshots back
    int retries = 0;    // times an upload that failed or went unanswered is sent again
    // Called once every device is paired, just before the uploads begin.
    std::function<void()> uploadsStarting;
};

// Pairs `devices` connectors (session, phone claim, poll), then uploads `uploads` distinct
// snapshots spread evenly over them: every device with its own keep-alive connection, one
// upload at a time, all starting together (driven from one thread). Finally reads every
// device's latest snapshot with its phone's token and compares it with the last body it
// uploaded.
LoadReport runUploadLoad(const LoadTargets& targets, int devices, int uploads);
// All of it through the relay at host:port.
LoadReport runUploadLoad(const std::string& host, int port, int devices, int uploads);

// A client that, until stopped, opens a fresh connection every `interval` ms and asks for
// /health, timing each answer from the connect on.
class LatencyProbe {
public:
    LatencyProbe(int port, int intervalMs = 20);
    ~LatencyProbe();
    LatencyProbe(const LatencyProbe&) = delete;
    LatencyProbe& operator=(const LatencyProbe&) = delete;

    void stop();
    int samples() const { return static_cast<int>(latencies_.size()); }
    int failures() const { return failures_; }
    double percentileMs(double p) const;
    double maxMs() const;

private:
    int port_;
    int intervalMs_;
    std::atomic<bool> stopping_{false};
    std::vector<double> latencies_;
    int failures_ = 0;
    std::thread thread_;
};

// Opens `count` connections to 127.0.0.1:port from the loopback source addresses 127.0.2.1,
// 127.0.2.2, ... (`perAddress` from each); with `request`, each first sends it (and, for a
// whole request, reads its answer). Returns the descriptors of the connections that opened.
std::vector<int> openConnections(int port, int count, int perAddress, const std::string& request,
                                 bool awaitAnswer);
void closeConnections(std::vector<int>& fds);

// Resident memory of the process `pid` in MiB (-1 when unknown).
double residentMiB(int pid);

} // namespace korvo::relayserver
