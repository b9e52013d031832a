#include "monitoring/status_page.h"

#include <QBuffer>
#include <QFile>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpSocket>
#include <charconv>

#include "monitoring/history_format.h"
#include "monitoring/metrics_text.h"
#include "monitoring/status_line.h"
#include "monitoring/time_text.h"

namespace plx {
namespace {

using Status = QHttpServerResponder::StatusCode;

// Only what the page itself carries runs or styles it; it is never framed, never cached.
constexpr const char* kSecurityHeaders[][2] = {
    {"Cache-Control", "no-store"},
    {"X-Content-Type-Options", "nosniff"},
    {"Content-Security-Policy",
     "default-src 'self'; script-src 'self' 'unsafe-inline'; style-src 'self' 'unsafe-inline'; "
     "img-src 'self'; connect-src 'self'; base-uri 'none'; form-action 'none'; "
     "frame-ancestors 'none'"},
    {"Referrer-Policy", "no-referrer"},
    {"X-Frame-Options", "DENY"},
};

QByteArray plain(const char* text) { return QByteArray(text) + '\n'; }

}  // namespace

Result<PageAddress> parsePageAddress(const std::string& value) {
    const auto bad = [&value](const std::string& why) {
        return makeError(ErrorKind::Invalid, "PLIXAGRAM_STATUS_PAGE=\"" + value + "\": " + why +
                                                 " (give PORT, ADDRESS:PORT or [IPv6]:PORT)");
    };
    std::string host;
    std::string port = value;
    if (const std::size_t colon = value.rfind(':'); colon != std::string::npos) {
        host = value.substr(0, colon);
        port = value.substr(colon + 1);
        if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
            host = host.substr(1, host.size() - 2);
        else if (host.find(':') != std::string::npos)
            return bad("an IPv6 address goes in brackets");
    }
    unsigned number = 0;
    const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), number);
    if (port.empty() || ec != std::errc() || end != port.data() + port.size() || number > 65535)
        return bad("not a port number");
    PageAddress where;
    where.port = quint16(number);
    if (host.empty() || host == "localhost") {
        where.address = QHostAddress(QHostAddress::LocalHost);
    } else if (!where.address.setAddress(QString::fromStdString(host))) {
        return bad("\"" + host + "\" is not an IP address");
    }
    return where;
}

StatusPage::StatusPage(StatusSource& source, PageLimits limits, QObject* parent)
    : QAbstractHttpServer(parent), m_source(source), m_limits(limits) {
    QFile page(QStringLiteral(":/monitoring/status_page.html"));
    if (page.open(QIODevice::ReadOnly)) m_html = page.readAll();
}

Result<void> StatusPage::start(const PageAddress& where) {
    auto* server = new GuardedTcpServer(m_limits, this);
    if (!server->listen(where.address, where.port)) {
        const std::string why = server->errorString().toStdString();
        delete server;
        return makeError(ErrorKind::Io, "the status page cannot listen on " +
                                            where.address.toString().toStdString() + ":" +
                                            std::to_string(where.port) + ": " + why);
    }
    bind(server);
    m_server = server;
    m_address = where.address;
    m_port = server->serverPort();
    return {};
}

std::string StatusPage::url() const {
    QString host = m_address.toString();
    if (m_address.protocol() == QAbstractSocket::IPv6Protocol) host = '[' + host + ']';
    return "http://" + host.toStdString() + ":" + std::to_string(m_port) + "/";
}

int StatusPage::connections() const { return m_server != nullptr ? m_server->connections() : 0; }

bool StatusPage::hostAccepted(const QByteArray& host) const {
    // A page on loopback is for this machine's own browsers: a Host naming anything else is
    // a web page elsewhere whose name was pointed at 127.0.0.1 to read this one.
    if (!m_address.isLoopback() || host.isEmpty()) return true;
    QByteArray name = host.toLower();
    if (name.startsWith('[')) {
        name = name.mid(1, name.indexOf(']') - 1);
    } else if (const qsizetype colon = name.lastIndexOf(':'); colon >= 0) {
        name.truncate(colon);
    }
    if (name == "localhost") return true;
    const QHostAddress literal(QString::fromLatin1(name));
    return !literal.isNull() && literal.isLoopback();
}

const QByteArray& StatusPage::statusJson() {
    if (m_status.isEmpty() || !m_statusAge.isValid() || m_statusAge.elapsed() >= kCacheMs) {
        const StationSnapshot snapshot = m_source.snapshot();
        QJsonObject root = snapshotObject(snapshot);
        root.insert(QStringLiteral("statusLine"),
                    QString::fromStdString(composeStatusLine(snapshot, wallNowMs())));
        QJsonArray jobs;
        for (const JobRecord& j : m_source.recentJobs(kRecentJobs)) jobs.append(jobObject(j));
        root.insert(QStringLiteral("recentJobs"), jobs);
        m_status = QJsonDocument(root).toJson(QJsonDocument::Compact);
        m_statusAge.start();
    }
    return m_status;
}

const QByteArray& StatusPage::metrics() {
    if (m_metrics.isEmpty() || !m_metricsAge.isValid() || m_metricsAge.elapsed() >= kCacheMs) {
        m_metrics = QByteArray::fromStdString(metricsText(m_source.snapshot()));
        m_metricsAge.start();
    }
    return m_metrics;
}

const QByteArray& StatusPage::picturePng() {
    const std::uint64_t generation = m_source.snapshot().picture.generation;
    if (m_pngMade && generation == m_pngGeneration) return m_png;
    m_png.clear();
    const QImage picture = m_source.picture();
    if (!picture.isNull()) {
        // A coarse step first, then a smooth one: a label of 100 megapixels costs a few
        // milliseconds, once per picture, and its dots still show.
        QImage small = picture;
        if (small.width() > 4 * kPictureMaxSide || small.height() > 4 * kPictureMaxSide)
            small = small.scaled(2 * kPictureMaxSide, 2 * kPictureMaxSide, Qt::KeepAspectRatio,
                                 Qt::FastTransformation);
        if (small.width() > kPictureMaxSide || small.height() > kPictureMaxSide)
            small = small.scaled(kPictureMaxSide, kPictureMaxSide, Qt::KeepAspectRatio,
                                 Qt::SmoothTransformation);
        QBuffer buffer(&m_png);
        buffer.open(QIODevice::WriteOnly);
        small.save(&buffer, "PNG");
    }
    m_pngGeneration = generation;
    m_pngMade = true;
    return m_png;
}

StatusPage::Answer StatusPage::answer(const QHttpServerRequest& request) {
    const auto method = request.method();
    if (method != QHttpServerRequest::Method::Get && method != QHttpServerRequest::Method::Head)
        return {405, "text/plain; charset=utf-8", plain("only GET and HEAD"), "GET, HEAD"};
    if (!hostAccepted(request.value("host")))
        return {421, "text/plain; charset=utf-8", plain("this page answers to localhost only"), {}};
    const QString path = request.url().path();
    if (path == QLatin1String("/")) return {200, "text/html; charset=utf-8", m_html, {}};
    if (path == QLatin1String("/status.json")) return {200, "application/json", statusJson(), {}};
    if (path == QLatin1String("/metrics"))
        return {200, "text/plain; version=0.0.4; charset=utf-8", metrics(), {}};
    if (path == QLatin1String("/picture.png")) {
        const QByteArray& png = picturePng();
        if (png.isEmpty()) return {404, "text/plain; charset=utf-8", plain("no picture shown"), {}};
        return {200, "image/png", png, {}};
    }
    return {404, "text/plain; charset=utf-8", plain("not found"), {}};
}

void StatusPage::send(const QHttpServerRequest& request, QTcpSocket* socket, const Answer& a) {
    QHttpServerResponder responder = makeResponder(request, socket);
    responder.writeStatusLine(Status(a.status));
    responder.writeHeader("Content-Type", a.type);
    responder.writeHeader("Content-Length", QByteArray::number(a.body.size()));
    for (const auto& header : kSecurityHeaders) responder.writeHeader(header[0], header[1]);
    if (!a.allow.isEmpty()) responder.writeHeader("Allow", a.allow);
    const bool close = request.value("connection").toLower() == "close";
    if (close) responder.writeHeader("Connection", "close");
    // The answer to HEAD is GET's without its body.
    if (request.method() == QHttpServerRequest::Method::Head)
        responder.writeBody("", 0);
    else
        responder.writeBody(a.body);
    if (close) socket->disconnectFromHost();
}

bool StatusPage::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
    send(request, socket, answer(request));
    return true;
}

void StatusPage::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) {
    send(request, socket, {404, "text/plain; charset=utf-8", plain("not found"), {}});
}

}  // namespace plx
