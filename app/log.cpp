#include "app/log.h"

#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

// The entries say what happened, not which line of this file said it.
#define SD_JOURNAL_SUPPRESS_LOCATION
#include <systemd/sd-journal.h>

#include <QDateTime>
#include <QString>
#include <QtGlobal>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace plx::log {
namespace {

// Qt warnings that say nothing to an operator and appear at every start. Matched on category
// and start of text; everything else Qt says is logged.
struct Harmless {
    const char* category;
    const char* start;
};
constexpr Harmless kHarmless[] = {
    // Qt falls back to a folder of its own; the station never uses the runtime folder.
    {"default", "QStandardPaths: XDG_RUNTIME_DIR not set"},
    // The offscreen platform (the service) has no window manager to pass size hints to.
    {"default", "This plugin does not support propagateSizeHints()"},
};

std::mutex g_mutex;
Style g_style = Style::Plain;

const char* levelWord(int priority) {
    switch (priority) {
        case 0:
        case 1:
        case 2:
        case 3:
            return "error";
        case 4:
            return "warning";
        case 5:
            return "notice";
        case 6:
            return "info";
        default:
            return "debug";
    }
}

// Straight to the journal, fields and all; false when it could not take the entry.
bool sendToJournal(int priority, std::string_view category, std::string_view text,
                   const EventFields& fields) {
    const std::vector<std::string> entry = journalFields(priority, category, text, fields);
    std::vector<iovec> iov;
    iov.reserve(entry.size());
    for (const std::string& f : entry)
        iov.push_back({const_cast<char*>(f.data()), f.size()});  // NOLINT: iovec is not const
    return sd_journal_sendv(iov.data(), int(iov.size())) >= 0;
}

void writeLine(int priority, std::string_view category, std::string_view text,
               const EventFields& fields = {}) {
    if (g_style == Style::Journal) {
        // Under the same lock as the stream, so that the entries keep their order.
        const std::lock_guard<std::mutex> lock(g_mutex);
        if (sendToJournal(priority, category, text, fields)) return;
    }
    std::string stamp;
    if (g_style == Style::Plain)
        stamp = QDateTime::currentDateTime().toString(Qt::ISODateWithMs).toStdString();
    const std::string out = formatLines(g_style, priority, category, text, stamp);
    // One write per event, so lines from Qt's threads never interleave within a line.
    const std::lock_guard<std::mutex> lock(g_mutex);
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = ::write(STDERR_FILENO, out.data() + done, out.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // nowhere to log to: keep running
        done += std::size_t(n);
    }
}

void qtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    const char* category = context.category != nullptr ? context.category : "default";
    const std::string text = message.toStdString();
    for (const Harmless& h : kHarmless)
        if (std::string_view(category) == h.category && text.rfind(h.start, 0) == 0) return;
    int priority = 7;
    switch (type) {
        case QtFatalMsg:
        case QtCriticalMsg:
            priority = 3;
            break;
        case QtWarningMsg:
            priority = 4;
            break;
        case QtInfoMsg:
            priority = 6;
            break;
        case QtDebugMsg:
            priority = 7;
            break;
    }
    writeLine(priority, std::string_view(category) == "default" ? "qt" : category, text);
}

}  // namespace

Style detectStyle(int fd) {
    const char* stream = std::getenv("JOURNAL_STREAM");
    if (stream == nullptr) return Style::Plain;
    unsigned long long dev = 0, ino = 0;
    if (std::sscanf(stream, "%llu:%llu", &dev, &ino) != 2) return Style::Plain;
    struct stat st {};
    if (::fstat(fd, &st) != 0) return Style::Plain;
    return st.st_dev == dev && st.st_ino == ino ? Style::Journal : Style::Plain;
}

int priorityOf(Severity severity) {
    switch (severity) {
        case Severity::Error:
            return 3;
        case Severity::Warning:
            return 4;
        case Severity::Notice:
            return 5;
        case Severity::Info:
            break;
    }
    return 6;
}

std::vector<std::string> journalFields(int priority, std::string_view category,
                                       std::string_view text, const EventFields& fields) {
    std::string message(category);
    if (!message.empty()) message += ": ";
    message += text;
    // The native protocol carries any bytes in a value, newlines and "%" included: a file
    // name is sent as it is.
    // The unit's own name for the station (plixagram-NAME for a second one), as its standard
    // error stream is tagged: the unit passes it, since SyslogIdentifier= reaches only streams.
    const char* tag = std::getenv("PLIXAGRAM_SYSLOG_IDENTIFIER");
    std::vector<std::string> entry{
        "MESSAGE=" + message, "PRIORITY=" + std::to_string(priority),
        std::string("SYSLOG_IDENTIFIER=") + (tag != nullptr && *tag != '\0' ? tag : "plixagram")};
    if (!fields.file.empty()) entry.push_back("PLIXAGRAM_FILE=" + fields.file);
    if (!fields.queue.empty()) entry.push_back("PLIXAGRAM_QUEUE=" + fields.queue);
    if (!fields.job.empty()) entry.push_back("PLIXAGRAM_JOB=" + fields.job);
    return entry;
}

std::string formatLines(Style style, int priority, std::string_view category, std::string_view text,
                        std::string_view stamp) {
    std::string out;
    std::size_t start = 0;
    do {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        // journald reads the priority of each line from its own prefix.
        if (style == Style::Journal) {
            out += '<';
            out += char('0' + priority);
            out += '>';
        } else {
            out += stamp;
            out += ' ';
            out += levelWord(priority);
            out += ' ';
        }
        if (!category.empty()) {
            out += category;
            out += ": ";
        }
        out += text.substr(start, end - start);
        out += '\n';
        start = end + 1;
    } while (start < text.size());
    return out;
}

void install() {
    g_style = detectStyle(STDERR_FILENO);
    qInstallMessageHandler(qtMessage);
}

void write(Severity severity, std::string_view text, const EventFields& fields) {
    writeLine(priorityOf(severity), {}, text, fields);
}

}  // namespace plx::log
