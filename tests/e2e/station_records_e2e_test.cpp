// What the real station shows of itself without its window, through the private print server:
// the status page in a real browser, systemd's one-line state from a notification socket the
// test binds, printing that goes on while a client hammers the page, and the job history as
// `plixagram history` reads it after a kill -9 and a restart.
#include <sys/socket.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <atomic>
#include <filesystem>
#include <map>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/bmp_writer.h"
#include "tests/support/headless_browser.h"
#include "tests/support/notify_socket.h"
#include "tests/support/raw_http.h"
#include "tests/support/station_process.h"

namespace plx::test {
namespace {

constexpr int kLineMs = 30000;

std::vector<std::uint8_t> label(unsigned seed) {
    return encodeBmp(24, 16, mixedPicture(24, 16, seed));
}

std::string sha256Of(const std::vector<std::uint8_t>& bytes) {
    return QCryptographicHash::hash(QByteArrayView(bytes.data(), qsizetype(bytes.size())),
                                    QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

// The port of "status page on http://127.0.0.1:PORT/".
int pagePort(StationProcess& station) {
    const std::string line = station.lineWith("status page on http://127.0.0.1:", kStationStartMs);
    const std::size_t colon = line.rfind(':');
    return colon == std::string::npos ? 0 : std::atoi(line.c_str() + colon + 1);
}

// Requests of every kind, good and bad, as fast as one client can, until told to stop.
struct Hammer {
    explicit Hammer(int port)
        : thread([this, port] {
              const std::string requests[] = {
                  "GET /status.json HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n",
                  "GET / HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n",
                  "GET /metrics HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n",
                  "GET /../../etc/passwd HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n",
                  "POST /status.json HTTP/1.1\r\nHost: localhost\r\nContent-Length: 3\r\n\r\nabc",
                  "GET / HTTP/1.1\r\nHost: localhost\r\nX-Big: " + std::string(40000, 'x') +
                      "\r\n\r\n",
                  "\x16\x03\x01 not http at all\r\n\r\n"};
              for (std::size_t i = 0; !stop; ++i) {
                  const int fd = dial(port);
                  if (fd < 0) continue;
                  // The request is not followed by a half-close: Qt's HTTP server drops a
                  // connection whose client has shut its sending side before answering.
                  sendAll(fd, requests[i % std::size(requests)]);
                  if (statusOf(receiveAll(fd, 2000)) == 200) ++answered;
                  ::close(fd);
                  ++sent;
              }
          }) {}
    ~Hammer() { finish(); }
    void finish() {
        stop = true;
        if (thread.joinable()) thread.join();
    }
    std::atomic<bool> stop{false};
    std::atomic<int> sent{0};
    std::atomic<int> answered{0};
    std::thread thread;
};

TEST(StationRecordsE2e, PageAndStatusLineFollowTheStationAndPrintingGoesOnUnderAHammeredPage) {
    PrintServerRestorer restore;
    JobFolder folder("records-page");
    QTemporaryDir scratch;
    NotifySocket notify(scratch.filePath(QStringLiteral("notify")).toStdString());
    ASSERT_TRUE(notify.bound());
    folder.put("page_done_1.bmp", label(1));
    StationOptions options = stationRun(folder.settings("1", "60/20"), kFastTickMs);
    options.env = {{"NOTIFY_SOCKET", notify.path()}, {"PLIXAGRAM_STATUS_PAGE", "0"}};
    StationProcess station;
    ASSERT_TRUE(station.start(options)) << station.startError();
    const int port = pagePort(station);
    ASSERT_GT(port, 0);
    ASSERT_GE(station.waitForLine(printedLine("page_done_1.bmp"), kJobTimeoutMs), 0);
    EXPECT_FALSE(notify.waitForStatus({"idle, no files waiting"}, kLineMs).empty());

    ASSERT_EQ(cupsDisable(kQueue, "out of labels").exitCode, 0);
    folder.put("page_wait_2.bmp", label(2));
    EXPECT_FALSE(
        notify
            .waitForStatus(
                {"1 waiting; print queue \"QLS-4100-Xe\" stopped since ", "out of labels"}, kLineMs)
            .empty());

    const std::string dom = dumpDom("http://127.0.0.1:" + std::to_string(port) + "/");
    ASSERT_FALSE(dom.empty()) << "chromium printed nothing";
    for (const std::string& shown :
         {std::string("<dd id=\"s-printer\">QLS-4100 Xe drivers standard</dd>"),
          std::string("<dd id=\"s-mode\">1</dd>"), std::string("<td>page_wait_2.bmp</td>"),
          std::string("waiting: print queue \"QLS-4100-Xe\" is stopped: out of labels"),
          std::string("<dd id=\"p-state\">stopped: out of labels"),
          std::string("<td>page_done_1.bmp</td><td>1</td><td>QLS-4100-Xe-")})
        EXPECT_NE(dom.find(shown), std::string::npos) << shown << "\n" << dom;
    const std::size_t done = dom.find("<td>page_done_1.bmp</td>");
    EXPECT_NE(dom.find("<td>printed</td>", done), std::string::npos) << dom;

    {
        Hammer hammer(port);
        ASSERT_EQ(cupsEnable(kQueue).exitCode, 0);
        EXPECT_GE(station.waitForLine(printedLine("page_wait_2.bmp"), kJobTimeoutMs), 0);
        EXPECT_FALSE(
            notify.waitForStatus({"idle, no files waiting"}, kLineMs, {"stopped"}).empty());
        hammer.finish();
        EXPECT_GT(hammer.sent.load(), 20);
        EXPECT_GT(hammer.answered.load(), 0);
    }
    {
        // The page answers again once the hammering stops (while it lasts, other clients of
        // the same address may be turned away: a few connections an address at a time).
        int status = 0;
        for (int i = 0; i < 50 && status != 200; ++i) {
            const int fd = dial(port);
            if (fd >= 0) {
                sendAll(
                    fd,
                    "GET /status.json HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n");
                status = statusOf(receiveAll(fd, 2000));
                ::close(fd);
            }
            if (status != 200) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        EXPECT_EQ(status, 200);
    }
    stopWithSigterm(station);
}

TEST(StationRecordsE2e, HistoryListsEachJobOnceWithItsOutcomeAndChecksumAfterAKillAndARestart) {
    JobFolder folder("records-history");
    // Earlier runs' rows for this folder would be listed too.
    const std::filesystem::path state = std::string(PLX_BINARY_DIR) + "/e2e-station/state";
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(state / "plixagram", ec))
        if (e.path().filename().string().find("records-history") != std::string::npos)
            std::filesystem::remove(e.path(), ec);
    std::map<std::string, std::string> sums;
    for (unsigned i = 0; i < 3; ++i) {
        const std::string name =
            "hist" + std::to_string(i) + "_x_" + std::to_string(i + 1) + ".bmp";
        const auto bytes = label(10 + i);
        folder.put(name, bytes);
        sums[name] = sha256Of(bytes);
    }
    StationProcess first;
    ASSERT_TRUE(first.start(stationRun(folder.settings("1", "0/0"), kFastTickMs)))
        << first.startError();
    ASSERT_TRUE(first.waitForCount(": " + sentTo(kQueue), 3, kLineMs));
    first.kill();

    StationProcess second;
    ASSERT_TRUE(second.start(stationRun(folder.settings("1", "0/0"), kFastTickMs)))
        << second.startError();
    for (const auto& [name, sum] : sums)
        ASSERT_GE(second.waitForLine(printedLine(name), kJobTimeoutMs), 0) << name;
    stopWithSigterm(second);

    QProcess history;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_STATE_HOME"), QString::fromStdString(state.string()));
    history.setProcessEnvironment(env);
    history.start(QStringLiteral(PLX_PROGRAM),
                  {QStringLiteral("history"), QStringLiteral("--csv"), QStringLiteral("--folder"),
                   QString::fromStdString(folder.path)});
    ASSERT_TRUE(history.waitForFinished(30000));
    EXPECT_EQ(history.exitCode(), 0) << history.readAllStandardError().toStdString();
    const QStringList lines = QString::fromUtf8(history.readAllStandardOutput())
                                  .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4) << lines.join(QLatin1Char('\n')).toStdString();
    const QStringList header = lines[0].split(QLatin1Char(','));
    const auto column = [&header](const char* name) { return header.indexOf(QLatin1String(name)); };
    for (const QString& line : lines.mid(1)) {
        const QStringList cells = line.split(QLatin1Char(','));
        const std::string file = cells[column("file")].toStdString();
        ASSERT_EQ(sums.count(file), 1u) << line.toStdString();
        EXPECT_EQ(cells[column("sha256")].toStdString(), sums[file]) << file;
        EXPECT_EQ(cells[column("outcome")], QStringLiteral("printed")) << file;
        EXPECT_EQ(cells[column("sends")], QStringLiteral("1")) << file;
        EXPECT_EQ(cells[column("copies")].toStdString(), file.substr(8, 1)) << file;
        sums.erase(file);
    }
}

}  // namespace
}  // namespace plx::test
