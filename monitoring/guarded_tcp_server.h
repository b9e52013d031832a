#pragma once
// The status page's listening socket, with the limits Qt 6.4's HTTP server does not set:
// how many connections (in all and from one address), how long a client may stay idle or take
// to send a request head, how large a head may be, no request bodies, and how much unread
// answer a client may pile up. Each connection is watched before the HTTP server reads from
// it; what breaks a limit gets a 4xx answer (or none) and is closed.

#include <QHash>
#include <QHostAddress>
#include <QTcpServer>

namespace plx {

struct PageLimits {
    int maxConnections = 32;
    int maxPerAddress = 8;
    int idleMs = 15000;  // a connection with no whole request for this long is closed
    int headMs = 10000;  // a request head must arrive whole within this
    qint64 maxUnread = qint64{64} * 1024;  // request bytes the server takes in ahead of reading
    qint64 maxUnsent = qint64{8} * 1024 * 1024;  // answers a client leaves unread
};

class GuardedTcpServer : public QTcpServer {
    Q_OBJECT
  public:
    explicit GuardedTcpServer(PageLimits limits = {}, QObject* parent = nullptr);
    int connections() const { return m_connections; }
    const PageLimits& limits() const { return m_limits; }

  protected:
    void incomingConnection(qintptr descriptor) override;

  private:
    void released(const QHostAddress& peer);

    PageLimits m_limits;
    int m_connections = 0;
    QHash<QHostAddress, int> m_perAddress;
};

}  // namespace plx
