#include "core/connect_report.h"

namespace oskel {

ConnectReport &connectReport() {
    thread_local ConnectReport report;
    return report;
}

void resetConnectReport() { connectReport() = ConnectReport{}; }

void connectFailed(const char *failure) noexcept {
    try {
        ConnectReport &report = connectReport();
        if (report.failure.empty())
            report.failure = failure;
    } catch (...) {
        // Out of memory: the report stays without its step.
    }
}

} // namespace oskel
