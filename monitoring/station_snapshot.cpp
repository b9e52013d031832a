#include "monitoring/station_snapshot.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include "monitoring/time_text.h"

namespace plx {
namespace {

constexpr int kFormat = 1;

struct MarkName {
    FileMark mark;
    const char* word;
};
constexpr MarkName kMarks[] = {
    {FileMark::Waiting, "waiting"},
    {FileMark::Printing, "printing"},
    {FileMark::Held, "held"},
    {FileMark::SetAside, "set-aside"},
    {FileMark::Bad, "bad"},
    {FileMark::Retrying, "retrying"},
    {FileMark::Incomplete, "incomplete"},
    {FileMark::Shown, "shown"},
};

QString q(const std::string& s) { return QString::fromStdString(s); }
QJsonValue time(std::int64_t ms) { return ms == 0 ? QJsonValue() : QJsonValue(q(isoTime(ms))); }

// Reading: a missing field or one of another type gives the default.
std::string str(const QJsonObject& o, const char* key) {
    return o.value(QLatin1String(key)).toString().toStdString();
}
std::int64_t num(const QJsonObject& o, const char* key) {
    return std::int64_t(o.value(QLatin1String(key)).toDouble());
}
std::int64_t when(const QJsonObject& o, const char* key) { return parseIsoTime(str(o, key)); }
QJsonObject obj(const QJsonObject& o, const char* key) {
    return o.value(QLatin1String(key)).toObject();
}
QJsonArray arr(const QJsonObject& o, const char* key) {
    return o.value(QLatin1String(key)).toArray();
}

QJsonObject identityJson(const StationIdentity& s) {
    return {{"watchFolder", q(s.watchFolder)},
            {"pid", s.pid},
            {"host", q(s.host)},
            {"version", q(s.version)},
            {"started", time(s.started)},
            {"holdsFolder", s.holdsFolder},
            {"standsByFor", q(s.standsByFor)}};
}

StationIdentity identityFrom(const QJsonObject& o) {
    StationIdentity s;
    s.watchFolder = str(o, "watchFolder");
    s.pid = int(num(o, "pid"));
    s.host = str(o, "host");
    s.version = str(o, "version");
    s.started = when(o, "started");
    s.holdsFolder = o.value(QLatin1String("holdsFolder")).toBool(true);
    s.standsByFor = str(o, "standsByFor");
    return s;
}

QJsonObject settingsJson(const SnapshotSettings& s) {
    return {{"printer", q(s.printer)},
            {"folder", q(s.folder)},
            {"mode", q(s.mode)},
            {"offsetX", q(s.offsetX)},
            {"offsetY", q(s.offsetY)}};
}

SnapshotSettings settingsFrom(const QJsonObject& o) {
    return {str(o, "printer"), str(o, "folder"), str(o, "mode"), str(o, "offsetX"),
            str(o, "offsetY")};
}

QJsonObject countersJson(const StationCounters& c) {
    return {{"labelsPrinted", double(c.labelsPrinted)},
            {"jobsFailed", double(c.jobsFailed)},
            {"setAside", double(c.setAside)},
            {"queueStoppedSeconds", double(c.queueStoppedSeconds)},
            {"filesWaiting", c.filesWaiting}};
}

StationCounters countersFrom(const QJsonObject& o) {
    StationCounters c;
    c.labelsPrinted = num(o, "labelsPrinted");
    c.jobsFailed = num(o, "jobsFailed");
    c.setAside = num(o, "setAside");
    c.queueStoppedSeconds = num(o, "queueStoppedSeconds");
    c.filesWaiting = int(num(o, "filesWaiting"));
    return c;
}

}  // namespace

std::string markWord(FileMark mark) {
    for (const MarkName& m : kMarks)
        if (m.mark == mark) return m.word;
    return "waiting";
}

std::optional<FileMark> markFromWord(const std::string& word) {
    for (const MarkName& m : kMarks)
        if (word == m.word) return m.mark;
    return std::nullopt;
}

QJsonObject snapshotObject(const StationSnapshot& s) {
    QJsonArray files;
    for (const SnapshotFile& f : s.files)
        files.append(QJsonObject{
            {"name", q(f.name)}, {"mark", q(markWord(f.mark))}, {"reason", q(f.reason)}});
    QJsonArray conditions;
    for (const StandingCondition& c : s.conditions)
        conditions.append(
            QJsonObject{{"kind", q(c.kind)}, {"text", q(c.text)}, {"since", time(c.since)}});
    QJsonValue job;
    if (s.job)
        job = QJsonObject{{"file", q(s.job->file)},
                          {"copies", s.job->copies},
                          {"row", s.job->row},
                          {"height", s.job->height},
                          {"started", time(s.job->started)}};
    return QJsonObject{
        {"format", kFormat},
        {"updated", time(s.updated)},
        {"station", identityJson(s.station)},
        {"settings", settingsJson(s.settings)},
        {"printer", QJsonObject{{"queue", q(s.printer.queue)},
                                {"state", q(s.printer.state)},
                                {"reasons", q(s.printer.reasons)},
                                {"blocked", s.printer.blocked},
                                {"since", time(s.printer.since)}}},
        {"job", job},
        {"files", files},
        {"conditions", conditions},
        {"counters", countersJson(s.counters)},
        {"history", QJsonObject{{"kept", s.history.kept},
                                {"problem", q(s.history.problem)},
                                {"path", q(s.history.path)}}},
        {"picture", QJsonObject{{"generation", double(s.picture.generation)},
                                {"file", q(s.picture.file)},
                                {"width", s.picture.width},
                                {"height", s.picture.height}}},
        {"lastEvent", q(s.lastEvent)},
        {"lastEventAt", time(s.lastEventAt)},
    };
}

QByteArray snapshotToJson(const StationSnapshot& s, bool indented) {
    return QJsonDocument(snapshotObject(s))
        .toJson(indented ? QJsonDocument::Indented : QJsonDocument::Compact);
}

Result<StationSnapshot> snapshotFromJson(const QByteArray& json) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return makeError(ErrorKind::Invalid,
                         "not a station state: " + error.errorString().toStdString());
    const QJsonObject root = doc.object();
    StationSnapshot s;
    s.updated = when(root, "updated");
    s.station = identityFrom(obj(root, "station"));
    s.settings = settingsFrom(obj(root, "settings"));
    const QJsonObject printer = obj(root, "printer");
    s.printer = {str(printer, "queue"), str(printer, "state"), str(printer, "reasons"),
                 printer.value(QLatin1String("blocked")).toBool(), when(printer, "since")};
    if (root.value(QLatin1String("job")).isObject()) {
        const QJsonObject job = obj(root, "job");
        s.job = CurrentJob{str(job, "file"), int(num(job, "copies")), int(num(job, "row")),
                           int(num(job, "height")), when(job, "started")};
    }
    for (const auto& v : arr(root, "files")) {
        const QJsonObject f = v.toObject();
        s.files.push_back({str(f, "name"), markFromWord(str(f, "mark")).value_or(FileMark::Waiting),
                           str(f, "reason")});
    }
    for (const auto& v : arr(root, "conditions")) {
        const QJsonObject c = v.toObject();
        s.conditions.push_back({str(c, "kind"), str(c, "text"), when(c, "since")});
    }
    s.counters = countersFrom(obj(root, "counters"));
    const QJsonObject history = obj(root, "history");
    s.history = {history.value(QLatin1String("kept")).toBool(), str(history, "problem"),
                 str(history, "path")};
    const QJsonObject picture = obj(root, "picture");
    s.picture = {std::uint64_t(num(picture, "generation")), str(picture, "file"),
                 int(num(picture, "width")), int(num(picture, "height"))};
    s.lastEvent = str(root, "lastEvent");
    s.lastEventAt = when(root, "lastEventAt");
    return s;
}

}  // namespace plx
