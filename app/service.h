#pragma once
// The station as a systemd service (Type=notify): tells systemd when it is ready, keeps the
// watchdog fed from the event loop, so that a station whose loop hangs is restarted, and keeps
// the one-line state `systemctl status` shows up to date. Without systemd (no NOTIFY_SOCKET)
// none of this does anything.

#include <QObject>
#include <string>

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
    // STATUS=line, sent only when it differs from the last one sent.
    void status(const std::string& line);

  private:
    QTimer* m_watchdog = nullptr;
    std::string m_status;
    bool m_statusSent = false;
};

}  // namespace plx
