#include "app/station.h"

#include <sys/socket.h>
#include <unistd.h>
#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "app/main_window.h"
#include "app/run_settings.h"
#include "platform/cups_print_surface.h"
#include "platform/qt_image_area.h"

namespace plx {
namespace {

constexpr const char* kUsage =
    "Usage: plixagram PRINTER/FOLDER/MODE/X/Y\n"
    "\n"
    "Watches FOLDER every 10 seconds and prints each *.bmp job file on PRINTER as many\n"
    "times as the third \"_\"-separated field of its name says, then deletes it.\n"
    "  PRINTER  CUPS queue name or description (blanks allowed, case ignored)\n"
    "  FOLDER   watch folder; a backslash stands for \"/\" ('\\srv\\labels' is /srv/labels)\n"
    "  MODE     1 dot replication, 2 dot replication of the first 181 rows, 3 scaled image\n"
    "  X, Y     offsets: device dots in modes 1 and 2, inches in mode 3\n"
    "\n"
    "Example: plixagram 'QLS-4100 Xe drivers standard/jobs/1/60/20'\n"
    "The print server is the one libcups is pointed at (CUPS_SERVER).\n";

int g_signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char c = 1;
    const ssize_t n = ::write(g_signalPipe[1], &c, 1);
    (void)n;
}

bool haveDisplay() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform != nullptr && std::strncmp(platform, "offscreen", 9) == 0) return false;
    const char* x = std::getenv("DISPLAY");
    const char* w = std::getenv("WAYLAND_DISPLAY");
    return (x != nullptr && *x != '\0') || (w != nullptr && *w != '\0');
}

int pollIntervalMs() {
    // Test seam only: the tests shorten the tick; the station itself runs at 10 seconds.
    if (const char* v = std::getenv("PLIXAGRAM_TICK_MS")) {
        const int ms = std::atoi(v);
        if (ms > 0) return ms;
    }
    return kPollIntervalMs;
}

}  // namespace

int runStation(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::cout << kUsage;
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::cout << "plixagram " << PLX_VERSION << "\n";
        return 0;
    }

    const std::string argumentString = joinArguments(argc, argv);
    if (!parseRunSettings(argumentString)) {
        const std::string message = runSettingsUsageError(argumentString);
        std::cerr << message << std::endl;
        if (haveDisplay()) {
            QApplication app(argc, argv);
            QMessageBox::critical(nullptr, QStringLiteral("Plixagram"),
                                  QString::fromStdString(message));
        }
        return 2;
    }

    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Plixagram"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PLX_VERSION));

    CupsPrintSurface surface;
    QtImageArea area;
    Form1 form(surface, area);
    form.setPollInterval(pollIntervalMs());

    // SIGINT and SIGTERM close the window like its close button: a running job is abandoned
    // unsent and its file stays for the next start.
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) == 0) {
        auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &form);
        QObject::connect(notifier, &QSocketNotifier::activated, &form, [&form] {
            char c;
            const ssize_t n = ::read(g_signalPipe[0], &c, 1);
            (void)n;
            form.report(Severity::Notice, PLX_TR("Station", "stop requested by signal"));
            form.requestStop();
        });
        struct sigaction sa {};
        sa.sa_handler = onSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        sigaction(SIGINT, &sa, nullptr);
        sigaction(SIGTERM, &sa, nullptr);
    }

    form.Form_Load(argumentString);
    form.show();
    const int status = app.exec();
    return status;
}

}  // namespace plx
