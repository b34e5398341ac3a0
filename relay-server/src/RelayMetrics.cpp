#include "RelayMetrics.h"

#include <cstdio>

namespace korvo::relayserver {
namespace {

std::string label(std::string_view value) {
    std::string out;
    for (const char c : value) {
        if (c == '\\' || c == '"') {
            out += '\\';
        }
        out += c == '\n' ? ' ' : c;
    }
    return out;
}

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

} // namespace

void RelayMetrics::request(std::string_view method, std::string_view route, int status,
                           std::chrono::nanoseconds took, bool failedInside) {
    const double seconds = std::chrono::duration<double>(took).count();
    std::string key(method);
    key += ' ';
    key += route.empty() ? "-" : route;
    std::lock_guard lock(mutex_);
    Route& r = routes_[key];
    ++r.byStatus[status];
    std::size_t bucket = 0;
    while (bucket < kBuckets.size() && seconds > kBuckets[bucket]) {
        ++bucket;
    }
    ++r.buckets[bucket];
    r.seconds += seconds;
    ++r.count;
    if (status == 429) {
        ++limited_[route.find("claim") != std::string_view::npos ? "claim" : "pairing-session"];
    } else if (status == 503 && !failedInside) {
        ++limited_[route.find("sessions") != std::string_view::npos && method == "POST"
                       ? "pairing-sessions-live"
                       : "busy"];
    }
    if (failedInside) {
        ++(status == 503 ? unavailable_ : internalErrors_);
    }
}

std::string RelayMetrics::text(const Gauges& gauges) const {
    std::string out;
    std::lock_guard lock(mutex_);
    out += "# HELP korvo_relay_requests_total Requests answered, by route and status.\n"
           "# TYPE korvo_relay_requests_total counter\n";
    for (const auto& [route, r] : routes_) {
        for (const auto& [status, count] : r.byStatus) {
            out += "korvo_relay_requests_total{route=\"" + label(route) + "\",status=\"" +
                   std::to_string(status) + "\"} " + std::to_string(count) + "\n";
        }
    }
    out += "# HELP korvo_relay_request_duration_seconds Time from a complete request to its "
           "answer, by route.\n"
           "# TYPE korvo_relay_request_duration_seconds histogram\n";
    for (const auto& [route, r] : routes_) {
        std::uint64_t cumulative = 0;
        for (std::size_t i = 0; i < r.buckets.size(); ++i) {
            cumulative += r.buckets[i];
            out += "korvo_relay_request_duration_seconds_bucket{route=\"" + label(route) +
                   "\",le=\"" + (i < kBuckets.size() ? number(kBuckets[i]) : "+Inf") + "\"} " +
                   std::to_string(cumulative) + "\n";
        }
        out += "korvo_relay_request_duration_seconds_sum{route=\"" + label(route) + "\"} " +
               number(r.seconds) + "\n";
        out += "korvo_relay_request_duration_seconds_count{route=\"" + label(route) + "\"} " +
               std::to_string(r.count) + "\n";
    }
    out += "# HELP korvo_relay_limited_total Requests refused by a limit (429, or 503 when the "
           "relay is busy), by limit.\n"
           "# TYPE korvo_relay_limited_total counter\n";
    for (const auto& [limit, count] : limited_) {
        out += "korvo_relay_limited_total{limit=\"" + limit + "\"} " + std::to_string(count) + "\n";
    }
    out += "# HELP korvo_relay_database_errors_total Requests that failed in the database: it "
           "did not answer in time (unavailable) or answered an error (error).\n"
           "# TYPE korvo_relay_database_errors_total counter\n"
           "korvo_relay_database_errors_total{kind=\"unavailable\"} " +
           std::to_string(unavailable_) +
           "\n"
           "korvo_relay_database_errors_total{kind=\"error\"} " +
           std::to_string(internalErrors_) + "\n";
    out += "# HELP korvo_relay_pool_wait_timeouts_total Waits for a pooled database connection "
           "that ran out.\n"
           "# TYPE korvo_relay_pool_wait_timeouts_total counter\n"
           "korvo_relay_pool_wait_timeouts_total " +
           std::to_string(gauges.poolWaitTimeouts) + "\n";
    out += "# HELP korvo_relay_open_connections Client connections open now.\n"
           "# TYPE korvo_relay_open_connections gauge\n"
           "korvo_relay_open_connections " +
           std::to_string(gauges.openConnections) + "\n";
    if (gauges.pairingSessionsLive >= 0) {
        out += "# HELP korvo_relay_pairing_sessions_live Pairing sessions waiting for a phone.\n"
               "# TYPE korvo_relay_pairing_sessions_live gauge\n"
               "korvo_relay_pairing_sessions_live " +
               std::to_string(gauges.pairingSessionsLive) + "\n";
    }
    return out;
}

} // namespace korvo::relayserver
