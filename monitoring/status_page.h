#pragma once
// A read-only web page of the station's state, for an operator away from the window and for
// integrators: "/" (the page itself, which fetches the state every two seconds), "/status.json"
// (the state and the last jobs of the history), "/metrics" (Prometheus) and "/picture.png"
// (the picture being printed, scaled down). GET and HEAD only; nothing on it changes anything.
// Its requests are answered from the window's event loop, from answers kept for half a second,
// so that a client hammering the page costs the printing little.

#include <QAbstractHttpServer>
#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QImage>
#include <cstdint>
#include <string>
#include <vector>

#include "common/result.h"
#include "monitoring/guarded_tcp_server.h"
#include "monitoring/job_history.h"
#include "monitoring/station_snapshot.h"

class QHttpServerRequest;
class QTcpSocket;

namespace plx {

// What the page shows, from the station (or a test).
class StatusSource {
  public:
    virtual ~StatusSource() = default;
    virtual StationSnapshot snapshot() const = 0;
    // The newest jobs of the history, newest first.
    virtual std::vector<JobRecord> recentJobs(int count) const = 0;
    // The picture shown now (null when none); asked for only when the snapshot's picture
    // generation changes.
    virtual QImage picture() const = 0;
};

struct PageAddress {
    QHostAddress address;
    quint16 port = 0;
};

// PLIXAGRAM_STATUS_PAGE: "PORT" (loopback), "ADDRESS:PORT" or "[IPv6]:PORT"; "localhost"
// stands for the loopback address. Port 0 takes any free port.
Result<PageAddress> parsePageAddress(const std::string& value);

class StatusPage : public QAbstractHttpServer {
    Q_OBJECT
  public:
    static constexpr int kRecentJobs = 20;
    static constexpr int kPictureMaxSide = 800;
    static constexpr qint64 kCacheMs = 500;

    explicit StatusPage(StatusSource& source, PageLimits limits = {}, QObject* parent = nullptr);

    Result<void> start(const PageAddress& where);
    quint16 port() const { return m_port; }
    // "http://127.0.0.1:8080/"
    std::string url() const;
    // Connections open now.
    int connections() const;

  protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

  private:
    struct Answer {
        int status = 200;
        QByteArray type;
        QByteArray body;
        QByteArray allow;  // for 405
    };
    Answer answer(const QHttpServerRequest& request);
    bool hostAccepted(const QByteArray& host) const;
    const QByteArray& statusJson();
    const QByteArray& metrics();
    const QByteArray& picturePng();
    void send(const QHttpServerRequest& request, QTcpSocket* socket, const Answer& a);

    StatusSource& m_source;
    PageLimits m_limits;
    GuardedTcpServer* m_server = nullptr;
    QHostAddress m_address;
    quint16 m_port = 0;
    QByteArray m_html;
    QByteArray m_status;
    QElapsedTimer m_statusAge;
    QByteArray m_metrics;
    QElapsedTimer m_metricsAge;
    QByteArray m_png;
    std::uint64_t m_pngGeneration = 0;
    bool m_pngMade = false;
};

}  // namespace plx
