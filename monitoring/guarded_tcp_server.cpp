#include "monitoring/guarded_tcp_server.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include "monitoring/request_head.h"

namespace plx {
namespace {

// An answer with no body that ends the connection.
QByteArray refusal(int status, const char* text) {
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + text +
           "\r\nContent-Length: 0\r\nConnection: close\r\nCache-Control: no-store\r\n\r\n";
}

// One connection's watch: sees every byte the client sends before the HTTP server reads it.
class ConnectionGuard : public QObject {
  public:
    ConnectionGuard(QTcpSocket* socket, QObject* httpServer, const PageLimits& limits)
        : QObject(socket), m_socket(socket), m_httpServer(httpServer), m_limits(limits) {
        m_idle.setSingleShot(true);
        m_head.setSingleShot(true);
        m_closing.setSingleShot(true);
        connect(&m_idle, &QTimer::timeout, this, [this] {
            if (m_scanner.inHead())
                refuse(408, "Request Timeout");
            else
                drop();
        });
        connect(&m_head, &QTimer::timeout, this, [this] { refuse(408, "Request Timeout"); });
        // A client that reads nothing cannot keep a closing connection open.
        connect(&m_closing, &QTimer::timeout, m_socket, &QTcpSocket::abort);
        m_idle.start(m_limits.idleMs);
    }

    // Runs before the HTTP server reads: takes in the bytes it has not seen yet.
    void beforeServer() {
        if (m_refused) return;
        const qint64 available = m_socket->bytesAvailable();
        const qint64 fresh = available - m_leftover;
        if (fresh <= 0) return;
        // New bytes are appended behind those the server has not read yet.
        const QByteArray buffered = m_socket->peek(available);
        const RequestHeadScanner::Verdict v =
            m_scanner.feed(std::string_view(buffered.constData() + (available - fresh), fresh));
        switch (v) {
            case RequestHeadScanner::Verdict::Fine:
                break;
            case RequestHeadScanner::Verdict::TooLarge:
                refuse(431, "Request Header Fields Too Large");
                return;
            case RequestHeadScanner::Verdict::HasBody:
                refuse(413, "Payload Too Large");
                return;
            case RequestHeadScanner::Verdict::Malformed:
                refuse(400, "Bad Request");
                return;
        }
        if (m_socket->bytesToWrite() > m_limits.maxUnsent) {
            drop();
            return;
        }
        if (m_scanner.heads() != m_heads) {
            m_heads = m_scanner.heads();
            m_idle.start(m_limits.idleMs);
            m_head.stop();
        }
        if (m_scanner.inHead() && !m_head.isActive()) m_head.start(m_limits.headMs);
    }

    // Runs after the HTTP server read: what it left is not new the next time.
    void afterServer() { m_leftover = m_refused ? 0 : m_socket->bytesAvailable(); }

  private:
    // Whatever comes after is not the HTTP server's to read.
    void stopServing() {
        m_refused = true;
        m_idle.stop();
        m_head.stop();
        if (m_httpServer != nullptr)
            QObject::disconnect(m_socket, &QTcpSocket::readyRead, m_httpServer, nullptr);
    }

    void drop() {
        stopServing();
        m_socket->abort();
    }

    void refuse(int status, const char* text) {
        stopServing();
        m_socket->write(refusal(status, text));
        m_socket->disconnectFromHost();
        if (m_socket->state() != QAbstractSocket::UnconnectedState) m_closing.start(2000);
    }

    QTcpSocket* m_socket;
    QPointer<QObject> m_httpServer;
    PageLimits m_limits;
    RequestHeadScanner m_scanner;
    QTimer m_idle;
    QTimer m_head;
    QTimer m_closing;
    qint64 m_leftover = 0;
    int m_heads = 0;
    bool m_refused = false;
};

}  // namespace

GuardedTcpServer::GuardedTcpServer(PageLimits limits, QObject* parent)
    : QTcpServer(parent), m_limits(limits) {}

void GuardedTcpServer::incomingConnection(qintptr descriptor) {
    const int fd = int(descriptor);
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    QHostAddress peer;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        peer = QHostAddress(reinterpret_cast<const sockaddr*>(&address));
    if (m_connections >= m_limits.maxConnections ||
        m_perAddress.value(peer) >= m_limits.maxPerAddress) {
        // Turned away before any Qt object is made for it: a flood costs one accept each.
        const QByteArray busy = refusal(503, "Service Unavailable");
        (void)::send(fd, busy.constData(), std::size_t(busy.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
        ::close(fd);
        return;
    }
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        ::close(fd);
        return;
    }
    // Beyond this the socket leaves the rest in the kernel until the server has read.
    socket->setReadBufferSize(m_limits.maxUnread);
    ++m_connections;
    ++m_perAddress[peer];
    connect(socket, &QObject::destroyed, this, [this, peer] { released(peer); });
    // bind() made the HTTP server this server's parent.
    auto* guard = new ConnectionGuard(socket, parent(), m_limits);
    // Slots run in the order they were connected: the guard's first, the server's (made when
    // the socket is handed over below), then the guard's second.
    connect(socket, &QTcpSocket::readyRead, guard, &ConnectionGuard::beforeServer);
    addPendingConnection(socket);
    connect(socket, &QTcpSocket::readyRead, guard, &ConnectionGuard::afterServer);
    // The server deletes a socket when the client leaves; one closed by a limit goes too.
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
}

void GuardedTcpServer::released(const QHostAddress& peer) {
    --m_connections;
    if (--m_perAddress[peer] <= 0) m_perAddress.remove(peer);
}

}  // namespace plx
