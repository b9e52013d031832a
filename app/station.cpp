#include "app/station.h"

#include <sys/socket.h>
#include <unistd.h>
#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>
#include <QSocketNotifier>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "app/holder_command.h"
#include "app/i18n.h"
#include "app/log.h"
#include "app/main_window.h"
#include "app/run_settings.h"
#include "app/service.h"
#include "cups/cups_print_surface.h"
#include "cups/print_route_check.h"
#include "intake/watch_folder.h"
#include "monitoring/operator_commands.h"
#include "picture/qt_image_area.h"
#include "printing/printer_choice.h"

namespace plx {
namespace {

constexpr const char* kDescription =
    "Watches FOLDER every 10 seconds and prints each *.bmp job file on PRINTER as many\n"
    "times as the third \"_\"-separated field of its name says, then deletes it.\n"
    "  PRINTER  CUPS queue name or description (blanks allowed, case ignored)\n"
    "  FOLDER   watch folder; a backslash stands for \"/\" ('\\srv\\labels' is /srv/labels)\n"
    "  MODE     1 dot replication, 2 dot replication of the first 181 rows, 3 scaled image\n"
    "  X, Y     offsets: device dots in modes 1 and 2, inches in mode 3\n"
    "\n"
    "Example: plixagram 'QLS-4100 Xe drivers standard/jobs/1/60/20'\n"
    "plixagram --holder ARGUMENTS says which station holds the folder (exit 1 when one does).\n"
    "The print server is the one libcups is pointed at (CUPS_SERVER).\n"
    "'plixagram status' and 'plixagram history' show a running station's state and its\n"
    "job history (see their --help).\n"
    "Exit status 2: the argument string has fewer than five fields. See plixagram(1).";

// --help and --version count as options only when given alone: anything else, "-3" or
// "--x" included, is part of the argument string. Returns the exit status, or -1 to go on.
int handleOptions(int argc, char** argv) {
    if (argc != 2 ||
        (std::strcmp(argv[1], "--help") != 0 && std::strcmp(argv[1], "--version") != 0))
        return -1;
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("plixagram"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PLX_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(kDescription));
    const QCommandLineOption help(QStringLiteral("help"),
                                  QStringLiteral("Shows this help and exits."));
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Shows the version and exits."));
    parser.addOption(help);
    parser.addOption(version);
    parser.addPositionalArgument(
        QStringLiteral("ARGUMENTS"),
        QStringLiteral("PRINTER/FOLDER/MODE/X/Y, all arguments joined with single blanks."),
        QStringLiteral("PRINTER/FOLDER/MODE/X/Y"));
    if (!parser.parse(QCoreApplication::arguments())) return -1;
    if (parser.isSet(version)) {
        std::cout << "plixagram " << PLX_VERSION << "\n";
    } else {
        std::cout << parser.helpText().toStdString();
    }
    return 0;
}

// `plixagram status ...` and `plixagram history ...`: the operator's read-only commands. An
// argument string always holds four "/", so it is never one of these words. Returns the exit
// status, or -1 to go on.
int handleCommands(int argc, char** argv) {
    if (argc < 2) return -1;
    const bool status = std::strcmp(argv[1], "status") == 0;
    if (!status && std::strcmp(argv[1], "history") != 0) return -1;
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("plixagram"));
    QStringList arguments = QCoreApplication::arguments();
    arguments.erase(arguments.begin(), arguments.begin() + 2);
    const LookPlaces places = defaultLookPlaces();
    return status ? runStatusCommand(arguments, places, std::cout, std::cerr)
                  : runHistoryCommand(arguments, places, std::cout, std::cerr);
}

// The queue the station's jobs go to: the one matching the printer field as the print
// procedures match it, else the current (default) one. Empty when there is none. Nothing is
// selected: the server's default stays current until a job selects a printer.
std::string stationQueue(PrintSurface& surface, const std::string& printerName) {
    const Result<PrinterChoice> choice = findPrinterByName(surface, printerName);
    return choice && choice->current ? choice->current->queue : std::string();
}

// Says whether the print server can take the station's documents to the printer unchanged.
void checkPrintRoute(Form1& form, CupsPrintSurface& surface) {
    const std::string queue = stationQueue(surface, form.runSettings().printer_name);
    for (const RouteFinding& f : checkStationRoute(surface.server(), queue))
        form.report(f.severity, f.text);
}

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

// PLIXAGRAM_WATCH_CHANGES=1: the folder is looked at as soon as it changes, not only at the
// tick.
bool watchChanges() {
    const char* v = std::getenv("PLIXAGRAM_WATCH_CHANGES");
    return v != nullptr && std::strcmp(v, "1") == 0;
}

// The station's name for its subscription to the print server's job events: one per host
// and watch folder, as there is one station per folder.
std::string subscriberName(const std::string& folderField) {
    char host[256] = "";
    ::gethostname(host, sizeof host - 1);
    std::error_code ec;
    const std::string where = std::string(host) + ":" +
                              std::filesystem::absolute(watchFolderPath(folderField), ec).string();
    std::uint64_t h = 14695981039346656037ull;  // FNV-1a: the same name in every run
    for (const unsigned char c : where) h = (h ^ c) * 1099511628211ull;
    char name[40];
    std::snprintf(name, sizeof name, "plixagram %016llx", static_cast<unsigned long long>(h));
    return name;
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
    log::install();
    if (const int status = handleOptions(argc, argv); status >= 0) return status;
    if (const int status = handleCommands(argc, argv); status >= 0) return status;
    if (const int status = folderHolderCommand(argc, argv); status >= 0) return status;

    const std::string argumentString = joinArguments(argc, argv);
    if (!parseRunSettings(argumentString)) {
        const Message message = runSettingsUsageError(argumentString);
        log::write(Severity::Error, message.text());
        if (haveDisplay()) {
            QApplication app(argc, argv);
            installTranslations();
            QMessageBox::critical(nullptr, QStringLiteral("Plixagram"), translated(message));
        }
        return 2;
    }

    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Plixagram"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PLX_VERSION));
    installTranslations();

    CupsPrintSurface surface;
    QtImageArea area;
    ServiceNotifier service;
    Form1 form(surface, area);
    form.setPollInterval(pollIntervalMs());
    // The history, the state for `plixagram status`, systemd's one-line state and the page.
    form.monitor().keepRecords(RecordPlaces::fromEnvironment());
    form.monitor().setStatusLineSink([&service](const std::string& line) { service.status(line); });

    // SIGINT and SIGTERM close the window like its close button: a running job is abandoned
    // unsent and its file stays for the next start.
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) == 0) {
        auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &form);
        QObject::connect(notifier, &QSocketNotifier::activated, &form, [&form, &service] {
            char c;
            const ssize_t n = ::read(g_signalPipe[0], &c, 1);
            (void)n;
            service.stopping();
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
    surface.setSubscriber(subscriberName(form.runSettings().watch_folder));
    if (watchChanges()) {
        form.watchFolderChanges();
        form.report(Severity::Info,
                    PLX_TR("Station",
                           "the watch folder is looked at as soon as it changes, and every "
                           "tick"));
    }
    checkPrintRoute(form, surface);
    form.show();
    // systemd has the station's state from the moment it is ready.
    form.monitor().publishNow();
    service.ready();
    // A stop asked for during start-up (the route check turns the event loop while the print
    // server answers) came before the loop it would have ended.
    const int status = form.stopRequested() ? 0 : app.exec();
    service.stopping();
    return status;
}

}  // namespace plx
