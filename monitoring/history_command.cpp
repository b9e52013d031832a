#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonDocument>
#include <filesystem>
#include <memory>

#include "monitoring/history_format.h"
#include "monitoring/job_history.h"
#include "monitoring/operator_commands.h"
#include "monitoring/time_text.h"

namespace plx {
namespace {

constexpr const char* kHistoryAbout =
    "Lists the jobs the stations on this machine decided on, from their job histories (the\n"
    "service's and your own): file, checksum, copies, queue and job, when it was seen, sent\n"
    "and ended, and how it ended. Exit status: 0 a history was read (even with no job in it),\n"
    "1 no history found or none could be read, 2 usage error.";

constexpr const char* kHistoryOptions =
    "  --folder DIR   only the station watching DIR\n"
    "  --since WHEN   only jobs since WHEN: 2026-12-08, 2026-12-08T10:00, or back from now:\n"
    "                 30m, 2h, 3d, 1w\n"
    "  --file NAME    only jobs of the file NAME\n"
    "  --csv          comma-separated values, one line per job, with a header line\n"
    "  --json         a JSON list of jobs\n";

struct Options {
    std::string folder;
    bool folderSet = false;
    HistoryFilter filter;
    bool csv = false;
    bool json = false;
    bool help = false;
};

// Parses the arguments; an error text when they are not usable.
std::string parse(const QStringList& arguments, Options& o) {
    QCommandLineParser parser;
    const QCommandLineOption folder(QStringLiteral("folder"), {}, QStringLiteral("DIR"));
    const QCommandLineOption since(QStringLiteral("since"), {}, QStringLiteral("WHEN"));
    const QCommandLineOption file(QStringLiteral("file"), {}, QStringLiteral("NAME"));
    const QCommandLineOption csv(QStringLiteral("csv"), {});
    const QCommandLineOption json(QStringLiteral("json"), {});
    const QCommandLineOption help(QStringLiteral("help"), {});
    parser.addOptions({folder, since, file, csv, json, help});
    if (!parser.parse(QStringList{QStringLiteral("plixagram history")} + arguments))
        return parser.errorText().toStdString();
    if (!parser.positionalArguments().isEmpty())
        return "unexpected argument " + parser.positionalArguments().front().toStdString();
    o.help = parser.isSet(help);
    o.csv = parser.isSet(csv);
    o.json = parser.isSet(json);
    if (o.csv && o.json) return "--csv and --json exclude each other";
    if (parser.isSet(folder)) {
        o.folder = folderArgument(parser.value(folder));
        o.folderSet = true;
    }
    if (parser.isSet(since)) {
        Result<std::int64_t> t = parseSince(parser.value(since).toStdString(), wallNowMs());
        if (!t) return t.error().message;
        o.filter.since = *t;
    }
    o.filter.file = parser.value(file).toStdString();
    return {};
}

}  // namespace

int runHistoryCommand(const QStringList& arguments, const LookPlaces& places, std::ostream& out,
                      std::ostream& err) {
    Options o;
    if (const std::string problem = parse(arguments, o); !problem.empty()) {
        err << "plixagram history: " << problem << "\nTry 'plixagram history --help'.\n";
        return 2;
    }
    if (o.help) {
        out << "Usage: plixagram history [--folder DIR] [--since WHEN] [--file NAME] "
               "[--csv | --json]\n\n"
            << kHistoryAbout << "\n\n"
            << kHistoryOptions;
        return 0;
    }
    std::vector<std::string> paths = findFiles(places.state, ".sqlite");
    if (o.folderSet) {
        const std::string wanted = folderKey(o.folder) + ".sqlite";
        std::erase_if(paths, [&wanted](const std::string& p) {
            return std::filesystem::path(p).filename().string() != wanted;
        });
    }
    if (paths.empty()) {
        err << "plixagram history: no job history found"
            << (o.folderSet ? " for the station watching " + o.folder : std::string()) << "\n";
        return 1;
    }
    QJsonArray all;
    std::vector<JobRecord> everything;
    int read = 0;
    const std::int64_t now = wallNowMs();
    for (const std::string& path : paths) {
        Result<std::unique_ptr<JobHistory>> history = JobHistory::openReadOnly(path);
        Result<std::vector<JobRecord>> jobs =
            history ? (*history)->jobs(o.filter) : Result<std::vector<JobRecord>>(history.error());
        if (!jobs) {
            err << "plixagram history: " << jobs.error().message << "\n";
            continue;
        }
        ++read;
        if (o.json) {
            for (const JobRecord& j : *jobs) all.append(jobObject(j));
        } else if (o.csv) {
            everything.insert(everything.end(), jobs->begin(), jobs->end());
        } else {
            if (read > 1) out << "\n";
            out << "Jobs of the station watching " << printableText((*history)->folder()) << " ("
                << jobs->size() << ")\n";
            if (!jobs->empty()) out << jobsTable(*jobs, now);
        }
    }
    if (o.json) out << QJsonDocument(all).toJson(QJsonDocument::Indented).toStdString();
    if (o.csv) out << jobsCsv(everything);
    return read > 0 ? 0 : 1;
}

}  // namespace plx
