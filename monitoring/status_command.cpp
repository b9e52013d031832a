#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <sstream>

#include "monitoring/history_format.h"
#include "monitoring/operator_commands.h"
#include "monitoring/snapshot_file.h"
#include "monitoring/status_line.h"
#include "monitoring/time_text.h"

namespace plx {
namespace {

constexpr const char* kStatusAbout =
    "Shows the state of the stations running on this machine (the service's and your own):\n"
    "settings, the files in the folder with their state and reason, the printer, the job being\n"
    "printed, what stands in the way and since when. Exit status: 0 a station is running,\n"
    "1 none is (or none was found), 2 usage error.";

std::string since(std::int64_t t, std::int64_t now) {
    if (t == 0) return {};
    return " since " + clockTime(t, now) + " (" + spanText((now - t) / 1000) + ")";
}

std::string shown(const std::string& s) { return printableText(s); }

void describe(std::ostream& out, const FoundSnapshot& found, std::int64_t now) {
    const StationSnapshot& s = found.snapshot;
    const StationIdentity& id = s.station;
    out << "Station watching " << shown(id.watchFolder) << "\n";
    if (!found.running) {
        out << "  not running (last seen " << clockTime(s.updated, now) << ", pid " << id.pid
            << ")\n";
        return;
    }
    out << "  pid " << id.pid << " on " << shown(id.host)
        << (id.started == 0 ? std::string()
                            : ", started " + clockTime(id.started, now) + " (" +
                                  spanText((now - id.started) / 1000) + " ago)")
        << (id.holdsFolder
                ? ", holds the folder"
                : ", stands by" +
                      (id.standsByFor.empty() ? std::string() : " for " + shown(id.standsByFor)))
        << "\n";
    out << "  State: " << shown(composeStatusLine(s, now)) << "\n";
    const SnapshotSettings& set = s.settings;
    out << "  Settings: printer \"" << shown(set.printer) << "\", folder " << shown(set.folder)
        << ", mode " << shown(set.mode) << ", offsets " << shown(set.offsetX) << " / "
        << shown(set.offsetY) << "\n";
    if (!s.printer.queue.empty())
        out << "  Printer: print queue \"" << shown(s.printer.queue) << "\" "
            << shown(s.printer.state.empty() ? std::string("state unknown") : s.printer.state)
            << since(s.printer.since, now)
            << (s.printer.reasons.empty() ? std::string() : ": " + shown(s.printer.reasons))
            << "\n";
    if (s.job)
        out << "  Printing: " << shown(s.job->file) << ", " << s.job->copies << " copies, row "
            << s.job->row << " of " << s.job->height << "\n";
    for (const StandingCondition& c : s.conditions) {
        // The printer's state is on its own line already.
        if (c.kind == "printer" && s.printer.blocked) continue;
        out << "  Condition: " << shown(c.text) << (c.since == 0 ? "" : ",") << since(c.since, now)
            << "\n";
    }
    if (s.files.empty()) {
        out << "  Files: none\n";
    } else {
        out << "  Files:\n";
        std::size_t nameWidth = 0;
        std::size_t markWidth = 0;
        for (const SnapshotFile& f : s.files) {
            nameWidth = std::max(nameWidth, shown(f.name).size());
            markWidth = std::max(markWidth, markWord(f.mark).size());
        }
        for (const SnapshotFile& f : s.files) {
            const std::string name = shown(f.name);
            std::string line = "    " + name + std::string(nameWidth - name.size() + 2, ' ');
            line += markWord(f.mark);
            if (!f.reason.empty())
                line += std::string(markWidth - markWord(f.mark).size() + 2, ' ') + shown(f.reason);
            out << line << "\n";
        }
    }
    const StationCounters& c = s.counters;
    out << "  Counters: " << c.labelsPrinted << " labels printed, " << c.jobsFailed
        << " failed at the printer, " << c.setAside << " set aside, queue stopped "
        << spanText(c.queueStoppedSeconds) << "\n";
    if (s.history.kept)
        out << "  History: kept in " << shown(s.history.path) << "\n";
    else
        out << "  History: not being kept"
            << (s.history.problem.empty() ? std::string() : ": " + shown(s.history.problem))
            << "\n";
    if (!s.lastEvent.empty())
        out << "  Last event: " << shown(s.lastEvent) << " (" << clockTime(s.lastEventAt, now)
            << ")\n";
}

}  // namespace

std::string folderArgument(const QString& argument) {
    std::string folder = argument.toStdString();
    if (folder.find('/') == std::string::npos)
        std::replace(folder.begin(), folder.end(), '\\', '/');
    return absoluteFolder(folder);
}

int runStatusCommand(const QStringList& arguments, const LookPlaces& places, std::ostream& out,
                     std::ostream& err) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(kStatusAbout));
    const QCommandLineOption folder(QStringLiteral("folder"),
                                    QStringLiteral("Only the station watching DIR."),
                                    QStringLiteral("DIR"));
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("The state as JSON, a list of stations."));
    const QCommandLineOption help(QStringLiteral("help"), QStringLiteral("Shows this help."));
    parser.addOptions({folder, json, help});
    if (!parser.parse(QStringList{QStringLiteral("plixagram status")} + arguments) ||
        !parser.positionalArguments().isEmpty()) {
        err << "plixagram status: "
            << (parser.errorText().isEmpty() ? std::string("unexpected argument")
                                             : parser.errorText().toStdString())
            << "\nTry 'plixagram status --help'.\n";
        return 2;
    }
    if (parser.isSet(help)) {
        out << "Usage: plixagram status [--folder DIR] [--json]\n\n"
            << kStatusAbout << "\n\n"
            << "  --folder DIR  only the station watching DIR\n"
            << "  --json        the state as JSON, a list of stations\n";
        return 0;
    }
    std::vector<FoundSnapshot> found = findSnapshots(places.runtime);
    if (parser.isSet(folder)) {
        const std::string wanted = folderArgument(parser.value(folder));
        std::erase_if(found, [&wanted](const FoundSnapshot& f) {
            return f.snapshot.station.watchFolder != wanted;
        });
    }
    const bool anyRunning =
        std::any_of(found.begin(), found.end(), [](const FoundSnapshot& f) { return f.running; });
    if (parser.isSet(json)) {
        QJsonArray all;
        for (const FoundSnapshot& f : found) {
            QJsonObject o = snapshotObject(f.snapshot);
            o.insert(QStringLiteral("running"), f.running);
            o.insert(QStringLiteral("statusLine"),
                     QString::fromStdString(composeStatusLine(f.snapshot, wallNowMs())));
            all.append(o);
        }
        out << QJsonDocument(all).toJson(QJsonDocument::Indented).toStdString();
    } else {
        const std::int64_t now = wallNowMs();
        for (std::size_t i = 0; i < found.size(); ++i) {
            if (i > 0) out << "\n";
            describe(out, found[i], now);
        }
    }
    if (found.empty())
        err << "plixagram status: no station found"
            << (parser.isSet(folder) ? " watching " + folderArgument(parser.value(folder)) : "")
            << "\n";
    return anyRunning ? 0 : 1;
}

}  // namespace plx
