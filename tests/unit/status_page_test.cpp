// The status page over real sockets: what it serves, and what it refuses or cuts off.
#include <unistd.h>

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <gtest/gtest.h>

#include "monitoring/request_head.h"
#include "monitoring/status_page.h"
#include "tests/support/monitoring_samples.h"
#include "tests/support/raw_http.h"

using namespace plx;
using namespace plx::test;

namespace {

class SampleSource : public StatusSource {
  public:
    StationSnapshot snapshot() const override { return sampleSnapshot(); }
    std::vector<JobRecord> recentJobs(int count) const override {
        JobRecord j;
        j.file = "lot41_front_2.bmp";
        j.outcome = JobOutcome::Printed;
        return std::vector<JobRecord>(std::size_t(std::min(count, 1)), j);
    }
    QImage picture() const override {
        QImage image(2000, 1500, QImage::Format_RGB32);
        image.fill(Qt::white);
        return image;
    }
};

class StatusPageTest : public ::testing::Test {
  protected:
    void SetUp() override {
        PageLimits limits;
        limits.idleMs = 400;
        limits.headMs = 300;
        limits.maxPerAddress = 3;
        m_page = std::make_unique<StatusPage>(m_source, limits);
        Result<void> started = m_page->start({QHostAddress(QHostAddress::LocalHost), 0});
        ASSERT_TRUE(started) << started.error().message;
        m_port = m_page->port();
    }
    std::string get(const std::string& target, const std::string& extra = {}) {
        return roundTrip(m_port, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extra +
                                     "Connection: close\r\n\r\n");
    }
    SampleSource m_source;
    std::unique_ptr<StatusPage> m_page;
    int m_port = 0;
};

}  // namespace

TEST_F(StatusPageTest, ServesThePageTheStateTheCountersAndThePicture) {
    const std::string page = get("/");
    EXPECT_EQ(statusOf(page), 200);
    for (const char* header :
         {"Content-Type: text/html; charset=utf-8", "Cache-Control: no-store",
          "X-Content-Type-Options: nosniff", "Content-Security-Policy: default-src 'self'"})
        EXPECT_NE(page.find(header), std::string::npos) << header;
    EXPECT_NE(bodyOf(page).find("fetch(\"/status.json\""), std::string::npos);

    const QJsonObject state =
        QJsonDocument::fromJson(QByteArray::fromStdString(bodyOf(get("/status.json?x=1"))))
            .object();
    EXPECT_EQ(state["settings"]["printer"].toString(), "QLS-4100 Xe drivers standard");
    EXPECT_EQ(state["files"][1]["reason"].toString(), "print queue \"QLS-4100-Xe\" is stopped");
    EXPECT_EQ(state["printer"]["reasons"].toString(), "out of labels (paused)");
    EXPECT_EQ(state["recentJobs"][0]["outcome"].toString(), "printed");
    EXPECT_TRUE(state["statusLine"].toString().startsWith("printing lot42_front_3.bmp"));

    const std::string metrics = get("/metrics");
    EXPECT_NE(metrics.find("text/plain; version=0.0.4"), std::string::npos);
    EXPECT_NE(metrics.find("\nplixagram_labels_printed_total 120\n"), std::string::npos) << metrics;
    EXPECT_NE(metrics.find("\nplixagram_files_waiting 3\n"), std::string::npos);

    const std::string png = get("/picture.png");
    EXPECT_NE(png.find("Content-Type: image/png"), std::string::npos);
    const QImage picture = QImage::fromData(QByteArray::fromStdString(bodyOf(png)), "PNG");
    EXPECT_EQ(picture.size(), QSize(800, 600));

    // HEAD: GET's headers without a body; the next request on the connection is answered.
    const std::string both = roundTrip(m_port,
                                       "HEAD /status.json HTTP/1.1\r\nHost: localhost:9\r\n\r\n"
                                       "GET /metrics HTTP/1.1\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(statusOf(both), 200);
    const std::size_t second = both.find("HTTP/1.1", 1);
    ASSERT_NE(second, std::string::npos) << both;
    EXPECT_EQ(both.find("\r\n\r\n") + 4, second) << "no body after HEAD's headers";
    EXPECT_EQ(statusOf(both.substr(second)), 200);
}

TEST_F(StatusPageTest, RefusesWhatItHasNoUseFor) {
    const std::string h = "Host: 127.0.0.1\r\nConnection: close\r\n";
    const std::pair<std::string, int> cases[] = {
        {"GET /nope HTTP/1.1\r\n" + h + "\r\n", 404},
        {"GET /../status.json HTTP/1.1\r\n" + h + "\r\n", 404},
        {"GET /status.json/ HTTP/1.1\r\n" + h + "\r\n", 404},
        {"POST /status.json HTTP/1.1\r\n" + h + "Content-Length: 0\r\n\r\n", 405},
        {"PUT / HTTP/1.1\r\n" + h + "Content-Length: 5\r\n\r\nhello", 413},
        {"GET / HTTP/1.1\r\n" + h + "Content-Length: 5000000000\r\n\r\n", 413},
        {"GET / HTTP/1.1\r\n" + h + "Transfer-Encoding: chunked\r\n\r\n0\r\n\r\n", 413},
        {"GET / HTTP/1.1\r\n" + h + "X-Big: " + std::string(20000, 'a') + "\r\n\r\n", 431},
        {"HELLO\r\n\r\n", 400},
        {"GET / HTTP/1.1\r\nHost: evil.example\r\nConnection: close\r\n\r\n", 421},
    };
    for (const auto& [request, status] : cases)
        EXPECT_EQ(statusOf(roundTrip(m_port, request)), status) << request.substr(0, 60);
    EXPECT_EQ(statusOf(get("/", "X-Forwarded-For: 1\r\n")), 200) << "still serving";
}

TEST_F(StatusPageTest, SlowIdleAndTooManyClientsAreCutOff) {
    EXPECT_EQ(statusOf(roundTrip(m_port, "GET / HT", 3000)), 408) << "a head that never ends";
    std::string silent = "x";
    std::string turnedAway;
    std::string afterwards;
    whileServing([&] {
        const int quiet = dial(m_port);
        silent = receiveAll(quiet, 3000);  // closed by the server: nothing received
        ::close(quiet);
        int held[3];
        for (int& fd : held) fd = dial(m_port);
        const int extra = dial(m_port);
        turnedAway = receiveAll(extra, 3000);
        ::close(extra);
        for (const int fd : held) ::close(fd);
    });
    EXPECT_EQ(silent, "");
    EXPECT_EQ(statusOf(turnedAway), 503);
    EXPECT_TRUE(QTest::qWaitFor([&] { return m_page->connections() == 0; }, 3000));
    EXPECT_EQ(statusOf(get("/")), 200);
}

TEST(RequestHeadScanner, ReadsTheSameWhateverPiecesTheBytesComeIn) {
    using V = RequestHeadScanner::Verdict;
    const std::pair<std::string, V> cases[] = {
        {"GET / HTTP/1.1\r\nHost: a\r\n\r\nHEAD /x HTTP/1.0\n\n", V::Fine},
        {"\r\nGET / HTTP/1.1\r\nContent-Length: 000\r\n\r\n", V::Fine},
        {"GET / HTTP/1.1\r\nContent-Length: 1\r\n\r\nx", V::HasBody},
        {"GET / HTTP/1.1\r\nContent-Length: -1\r\n\r\n", V::Malformed},
        {"GET / HTTP/1.1\r\n folded\r\n\r\n", V::Malformed},
        {"GET / HTTP/1.1\r\nBad Name: x\r\n\r\n", V::Malformed},
        {"GET http://x/ HTTP/1.1\r\n\r\n", V::Malformed},
        {"GET / HTTP/2.0\r\n\r\n", V::Malformed},
        {std::string("GET /\0 HTTP/1.1\r\n\r\n", 19), V::Malformed},
        {"GET / HTTP/1.1\r\n" + std::string(RequestHeadScanner::kMaxHeadBytes, 'a'), V::TooLarge},
    };
    for (const auto& [bytes, verdict] : cases) {
        RequestHeadScanner whole;
        RequestHeadScanner pieces;
        for (const char c : bytes) pieces.feed(std::string_view(&c, 1));
        EXPECT_EQ(whole.feed(bytes), verdict) << bytes.substr(0, 40);
        EXPECT_EQ(pieces.verdict(), verdict) << bytes.substr(0, 40);
        EXPECT_EQ(pieces.heads(), whole.heads());
    }
    RequestHeadScanner two;
    two.feed("GET / HTTP/1.1\r\n\r\nGET /a HTTP/1.1\r\n");
    EXPECT_EQ(two.heads(), 1);
    EXPECT_TRUE(two.inHead());
    std::string many = "GET / HTTP/1.1\r\n";
    for (int i = 0; i <= RequestHeadScanner::kMaxHeaderLines; ++i) many += "A: b\r\n";
    EXPECT_EQ(RequestHeadScanner().feed(many), V::TooLarge);
}

TEST(PageAddress, PortAloneMeansLoopback) {
    const auto at = [](const char* value) {
        Result<PageAddress> a = parsePageAddress(value);
        return a ? a->address.toString().toStdString() + " " + std::to_string(a->port)
                 : std::string("bad");
    };
    EXPECT_EQ(at("8080"), "127.0.0.1 8080");
    EXPECT_EQ(at("localhost:8080"), "127.0.0.1 8080");
    EXPECT_EQ(at("0.0.0.0:80"), "0.0.0.0 80");
    EXPECT_EQ(at("[::1]:9000"), "::1 9000");
    for (const char* bad : {"", "http", "70000", "::1:80", "printhost:80", "80:", "-1"})
        EXPECT_EQ(at(bad), "bad") << bad;
}
