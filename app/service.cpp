#include "app/service.h"

#include <systemd/sd-daemon.h>

#include <QTimer>
#include <algorithm>
#include <cstdint>

namespace plx {

ServiceNotifier::ServiceNotifier(QObject* parent) : QObject(parent) {
    std::uint64_t usec = 0;
    // Only when systemd watches this very process; the variables are kept for nobody else.
    if (sd_watchdog_enabled(0, &usec) <= 0 || usec == 0) return;
    m_watchdog = new QTimer(this);
    // Half the interval, as systemd recommends: one late tick is not yet a restart.
    m_watchdog->setInterval(
        int(std::clamp<std::uint64_t>(usec / 2000, 1, std::uint64_t(24) * 3600 * 1000)));
    // A timer, not a thread: the watchdog is fed only while the event loop turns, which is what
    // it is meant to prove (long prints yield to the loop every few rows).
    connect(m_watchdog, &QTimer::timeout, this, [] { sd_notify(0, "WATCHDOG=1"); });
}

ServiceNotifier::~ServiceNotifier() = default;

void ServiceNotifier::ready() {
    sd_notify(0, "READY=1");
    if (m_watchdog != nullptr) {
        sd_notify(0, "WATCHDOG=1");
        m_watchdog->start();
    }
}

void ServiceNotifier::status(const std::string& line) {
    if (m_statusSent && line == m_status) return;
    // A newline would end the assignment and start another.
    std::string oneLine = line;
    std::replace(oneLine.begin(), oneLine.end(), '\n', ' ');
    if (sd_notify(0, ("STATUS=" + oneLine).c_str()) < 0) return;
    m_status = line;
    m_statusSent = true;
}

void ServiceNotifier::stopping() {
    if (m_watchdog != nullptr) m_watchdog->stop();
    sd_notify(0, "STOPPING=1");
}

}  // namespace plx
