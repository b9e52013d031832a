#pragma once
// The station as a systemd service (Type=notify): tells systemd when it is ready and keeps the
// watchdog fed from the event loop, so that a station whose loop hangs is restarted. Without
// systemd (no NOTIFY_SOCKET) none of this does anything.

#include <QObject>

class QTimer;

namespace plx {

class ServiceNotifier : public QObject {
    Q_OBJECT
  public:
    explicit ServiceNotifier(QObject* parent = nullptr);
    ~ServiceNotifier() override;

    // READY=1, and the watchdog timer at half the interval systemd asked for (WatchdogSec).
    void ready();
    // STOPPING=1: the station is on its way out.
    void stopping();

  private:
    QTimer* m_watchdog = nullptr;
};

}  // namespace plx
