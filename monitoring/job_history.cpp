#include "monitoring/job_history.h"

#include <unistd.h>

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUuid>
#include <atomic>
#include <cstdlib>
#include <string_view>

namespace plx {
namespace {

constexpr int kSchemaVersion = 1;
// "PLXG": marks the file as this station's history for tools like `file`.
constexpr int kApplicationId = 0x504c5847;
constexpr std::int64_t kDayMs = 86400LL * 1000;

struct OutcomeName {
    JobOutcome outcome;
    const char* word;
};
constexpr OutcomeName kOutcomes[] = {
    {JobOutcome::Printed, "printed"},
    {JobOutcome::PrintedAgain, "printed-again"},
    {JobOutcome::Cancelled, "cancelled"},
    {JobOutcome::SetAside, "set-aside"},
    {JobOutcome::NothingToPrint, "nothing-to-print"},
    {JobOutcome::TakenOver, "taken-over"},
    {JobOutcome::Unknown, "unknown-to-server"},
    {JobOutcome::Withdrawn, "withdrawn"},
};

constexpr const char* kSchema[] = {
    "CREATE TABLE IF NOT EXISTS meta(name TEXT PRIMARY KEY, value TEXT)",
    "CREATE TABLE IF NOT EXISTS jobs("
    " key TEXT PRIMARY KEY, station TEXT, folder TEXT, file TEXT NOT NULL,"
    " size INTEGER, sha256 TEXT, mode TEXT, copies INTEGER,"
    " queue TEXT, job_id INTEGER, job_uuid TEXT,"
    " seen INTEGER, sent INTEGER, ended INTEGER, touched INTEGER NOT NULL,"
    " sends INTEGER NOT NULL DEFAULT 0, failures INTEGER NOT NULL DEFAULT 0,"
    " pages INTEGER, outcome TEXT, reason TEXT, taken_over_from TEXT)",
    "CREATE INDEX IF NOT EXISTS jobs_touched ON jobs(touched)",
    "CREATE INDEX IF NOT EXISTS jobs_file ON jobs(file)",
};

// Each event is one statement: it starts the row when the key has none yet (the event that
// started it was not kept), else brings the row up to date. One statement is one transaction.
constexpr const char* kInsertHead = "INSERT INTO jobs(key, station, folder, file, seen, touched";
constexpr const char* kSeenSql =
    ", size, sha256, mode, copies) VALUES(:key, :station, :folder, :file, :at, :at,"
    " :size, :sha256, :mode, :copies) ON CONFLICT(key) DO UPDATE SET"
    " station = excluded.station, file = excluded.file, size = excluded.size,"
    " sha256 = excluded.sha256, mode = excluded.mode, copies = excluded.copies,"
    " touched = excluded.touched";
constexpr const char* kSentSql =
    ", queue, job_id, job_uuid, sent, sends) VALUES(:key, :station, :folder, :file, :at, :at,"
    " :queue, :job_id, :job_uuid, :at, 1) ON CONFLICT(key) DO UPDATE SET"
    " station = excluded.station, file = excluded.file, queue = excluded.queue,"
    " job_id = excluded.job_id, job_uuid = excluded.job_uuid, sent = excluded.sent,"
    " sends = jobs.sends + 1, touched = excluded.touched";
constexpr const char* kFailedSql =
    ", failures, reason) VALUES(:key, :station, :folder, :file, :at, :at, 1, :reason)"
    " ON CONFLICT(key) DO UPDATE SET station = excluded.station, file = excluded.file,"
    " failures = jobs.failures + 1, reason = excluded.reason, touched = excluded.touched";
constexpr const char* kEndedSql =
    ", ended, outcome, pages, reason) VALUES(:key, :station, :folder, :file, :at, :at, :at,"
    " :outcome, :pages, :reason) ON CONFLICT(key) DO UPDATE SET station = excluded.station,"
    " file = excluded.file, ended = excluded.ended,"
    " outcome = CASE WHEN excluded.outcome = 'printed' AND jobs.failures > 0"
    "   THEN 'printed-again' ELSE excluded.outcome END,"
    " pages = coalesce(excluded.pages, jobs.pages),"
    " reason = CASE WHEN excluded.reason <> '' THEN excluded.reason ELSE jobs.reason END,"
    " touched = excluded.touched";
constexpr const char* kTakenOverSql =
    ", taken_over_from) VALUES(:key, :station, :folder, :file, :at, :at, :from)"
    " ON CONFLICT(key) DO UPDATE SET station = excluded.station, file = excluded.file,"
    " taken_over_from = excluded.taken_over_from, touched = excluded.touched";
constexpr const char* kDecidedSql =
    ", size, sha256, mode, copies, ended, outcome, reason) VALUES(:key, :station, :folder,"
    " :file, :at, :at, :size, :sha256, :mode, :copies, :at, :outcome, :reason)"
    " ON CONFLICT(key) DO NOTHING";

constexpr const char* kColumns =
    "key, station, folder, file, size, sha256, mode, copies, queue, job_id, job_uuid, seen, sent,"
    " ended, sends, failures, pages, outcome, reason, taken_over_from";

std::atomic<int> g_connections{0};

std::string errorText(const QSqlError& e) {
    // The driver's words say which step failed, the database's why ("database or disk is
    // full"); Qt 6.4 gives no native code for a failed commit.
    const QString db = e.databaseText();
    return (db.isEmpty() ? e.text() : db + QStringLiteral(" (") + e.driverText() + ')')
        .toStdString();
}

Error sqlError(const std::string& what, const QSqlError& e) {
    return makeError(ErrorKind::Io, what + ": " + errorText(e));
}

QString text(const std::string& s) { return QString::fromStdString(s); }

std::string station() {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
    return std::string(host) + ":" + std::to_string(::getpid());
}

}  // namespace

std::string outcomeWord(JobOutcome outcome) {
    for (const OutcomeName& o : kOutcomes)
        if (o.outcome == outcome) return o.word;
    return {};
}

JobOutcome outcomeFromWord(const std::string& word) {
    for (const OutcomeName& o : kOutcomes)
        if (word == o.word) return o.outcome;
    return JobOutcome::None;
}

int retentionDaysFromEnvironment() {
    const char* v = std::getenv("PLIXAGRAM_HISTORY_DAYS");
    if (v == nullptr || *v == '\0') return kDefaultRetentionDays;
    char* end = nullptr;
    const long days = std::strtol(v, &end, 10);
    if (*end != '\0' || days < 1 || days > 100L * 366) return kDefaultRetentionDays;
    return int(days);
}

JobHistory::JobHistory(std::string path, QString connection)
    : m_path(std::move(path)), m_connection(std::move(connection)) {}

JobHistory::~JobHistory() {
    {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_connection);
}

Result<std::unique_ptr<JobHistory>> JobHistory::open(const std::string& path,
                                                     const std::string& folder,
                                                     const std::string& stationName) {
    const QString name = QStringLiteral("plx-history-%1").arg(g_connections.fetch_add(1));
    std::unique_ptr<JobHistory> history(new JobHistory(path, name));
    history->m_station = stationName.empty() ? station() : stationName;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(text(path));
        // The station must not wait on the database: a busy moment (another station on the same
        // folder writing) fails the event, which is kept and written later.
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=200"));
        if (!db.open()) return sqlError("cannot open the job history " + path, db.lastError());
    }
    if (Result<void> r = history->createSchema(folder); !r) return r.error();
    return history;
}

Result<std::unique_ptr<JobHistory>> JobHistory::openReadOnly(const std::string& path) {
    if (::access(path.c_str(), R_OK) != 0)
        return makeError(ErrorKind::NotFound, "cannot read the job history " + path);
    // Reading a write-ahead-log database needs its shared-memory file: one that is there is
    // used read-only; when it is not (the station closed it cleanly) and cannot be made here
    // (the service's folder), nothing is waiting in a log, and the file alone is the history.
    const bool logThere = ::access((path + "-wal").c_str(), F_OK) == 0;
    for (const bool immutable : {false, true}) {
        if (immutable && logThere) break;
        const QString name = QStringLiteral("plx-history-%1").arg(g_connections.fetch_add(1));
        std::unique_ptr<JobHistory> history(new JobHistory(path, name));
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            if (immutable) {
                db.setDatabaseName(QStringLiteral("file:") +
                                   QString::fromLatin1(QUrl::toPercentEncoding(text(path), "/")) +
                                   QStringLiteral("?immutable=1"));
                db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI"));
            } else {
                db.setDatabaseName(text(path));
                db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
            }
            if (!db.open()) {
                if (immutable)
                    return sqlError("cannot open the job history " + path, db.lastError());
                continue;
            }
        }
        Result<void> r = history->readFolder();
        if (r) return history;
        if (immutable || logThere) return r.error();
    }
    return makeError(ErrorKind::Io, "cannot open the job history " + path);
}

Result<void> JobHistory::createSchema(const std::string& folder) {
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("PRAGMA application_id")) || !q.next())
        return sqlError("cannot read the job history " + m_path, q.lastError());
    const int appId = q.value(0).toInt();
    q.finish();
    if (!q.exec(QStringLiteral("PRAGMA user_version")) || !q.next())
        return sqlError("cannot read the job history " + m_path, q.lastError());
    const int version = q.value(0).toInt();
    q.finish();
    if (appId != 0 && appId != kApplicationId)
        return makeError(ErrorKind::Invalid, m_path + " is not a job history of this station");
    if (version > kSchemaVersion)
        return makeError(ErrorKind::Invalid,
                         m_path + " was written by a newer version of the station");
    // The write-ahead log lets the commands read while the station writes; NORMAL syncs at
    // checkpoints only, which keeps every committed row through a crash of the station (not
    // of the machine) at a fraction of a full sync per row.
    if (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !q.next() ||
        q.value(0).toString() != QStringLiteral("wal"))
        return sqlError("cannot use a write-ahead log for the job history " + m_path,
                        q.lastError());
    q.finish();
    // The log is reused, not shrunk; this keeps it from staying at its largest.
    for (const char* pragma : {"PRAGMA synchronous=NORMAL", "PRAGMA journal_size_limit=1048576"})
        if (!q.exec(QString::fromLatin1(pragma)))
            return sqlError("cannot set up the job history " + m_path, q.lastError());
    q.finish();
    if (!db.transaction())
        return sqlError("cannot set up the job history " + m_path, db.lastError());
    bool ok = true;
    for (const char* statement : kSchema) ok = ok && q.exec(QString::fromLatin1(statement));
    if (ok) {
        ok = q.prepare(
            QStringLiteral("INSERT OR IGNORE INTO meta(name, value) VALUES('folder', :folder)"));
        q.bindValue(QStringLiteral(":folder"), text(folder));
        ok = ok && q.exec();
    }
    ok = ok && q.exec(QStringLiteral("PRAGMA application_id=%1").arg(kApplicationId)) &&
         q.exec(QStringLiteral("PRAGMA user_version=%1").arg(kSchemaVersion));
    const QSqlError error = q.lastError();
    q.finish();
    if (!ok || !db.commit()) {
        const QSqlError e = ok ? db.lastError() : error;
        db.rollback();
        return sqlError("cannot set up the job history " + m_path, e);
    }
    return readFolder();
}

Result<void> JobHistory::readFolder() {
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SELECT value FROM meta WHERE name = 'folder'")))
        return sqlError("cannot read the job history " + m_path, q.lastError());
    if (q.next()) m_folder = q.value(0).toString().toStdString();
    q.finish();
    return {};
}

Result<void> JobHistory::upsert(const char* sql, const std::string& key, const std::string& file,
                                std::int64_t at,
                                const std::vector<std::pair<QString, QVariant>>& values) {
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    if (!q.prepare(QString::fromLatin1(kInsertHead) + QString::fromLatin1(sql)))
        return sqlError("cannot write the job history", q.lastError());
    q.bindValue(QStringLiteral(":key"), text(key));
    q.bindValue(QStringLiteral(":station"), text(m_station));
    q.bindValue(QStringLiteral(":folder"), text(m_folder));
    q.bindValue(QStringLiteral(":file"), text(file));
    q.bindValue(QStringLiteral(":at"), qint64(at));
    for (const auto& [name, value] : values) q.bindValue(name, value);
    if (!q.exec()) return sqlError("cannot write the job history", q.lastError());
    q.finish();
    return {};
}

Result<void> JobHistory::seen(const JobFile& job, std::int64_t at) {
    return upsert(
        kSeenSql, job.key, job.file, at,
        {{QStringLiteral(":size"), job.size >= 0 ? QVariant(qint64(job.size)) : QVariant()},
         {QStringLiteral(":sha256"), text(job.sha256)},
         {QStringLiteral(":mode"), text(job.mode)},
         {QStringLiteral(":copies"), job.copies}});
}

Result<void> JobHistory::sent(const std::string& key, const std::string& file, const JobSent& to,
                              std::int64_t at) {
    return upsert(kSentSql, key, file, at,
                  {{QStringLiteral(":queue"), text(to.queue)},
                   {QStringLiteral(":job_id"), to.jobId},
                   {QStringLiteral(":job_uuid"), text(to.jobUuid)}});
}

Result<void> JobHistory::failed(const std::string& key, const std::string& file,
                                const std::string& reason, std::int64_t at) {
    return upsert(kFailedSql, key, file, at, {{QStringLiteral(":reason"), text(reason)}});
}

Result<void> JobHistory::ended(const std::string& key, const std::string& file, JobOutcome outcome,
                               int pages, const std::string& reason, std::int64_t at) {
    return upsert(kEndedSql, key, file, at,
                  {{QStringLiteral(":outcome"), text(outcomeWord(outcome))},
                   {QStringLiteral(":pages"), pages >= 0 ? QVariant(pages) : QVariant()},
                   {QStringLiteral(":reason"), text(reason)}});
}

Result<void> JobHistory::takenOver(const std::string& key, const std::string& file,
                                   const std::string& fromStation, std::int64_t at) {
    return upsert(kTakenOverSql, key, file, at, {{QStringLiteral(":from"), text(fromStation)}});
}

Result<std::string> JobHistory::decided(const JobFile& job, JobOutcome outcome,
                                        const std::string& reason, std::int64_t at) {
    const std::string key = job.key.empty()
                                ? QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString()
                                : job.key;
    Result<void> r =
        upsert(kDecidedSql, key, job.file, at,
               {{QStringLiteral(":size"), job.size >= 0 ? QVariant(qint64(job.size)) : QVariant()},
                {QStringLiteral(":sha256"), text(job.sha256)},
                {QStringLiteral(":mode"), text(job.mode)},
                {QStringLiteral(":copies"), job.copies},
                {QStringLiteral(":outcome"), text(outcomeWord(outcome))},
                {QStringLiteral(":reason"), text(reason)}});
    if (!r) return r.error();
    return key;
}

Result<int> JobHistory::purge(std::int64_t now, int days) {
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery q(db);
    q.prepare(QStringLiteral("DELETE FROM jobs WHERE touched < :cutoff"));
    q.bindValue(QStringLiteral(":cutoff"), qint64(now - std::int64_t(days) * kDayMs));
    if (!q.exec()) return sqlError("cannot purge the job history", q.lastError());
    const int removed = q.numRowsAffected();
    q.finish();
    return removed;
}

Result<std::vector<JobRecord>> JobHistory::jobs(const HistoryFilter& filter) const {
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QString sql = QStringLiteral("SELECT %1 FROM jobs WHERE touched >= :since")
                      .arg(QString::fromLatin1(kColumns));
    if (!filter.file.empty()) sql += QStringLiteral(" AND file = :file");
    // The newest by their last event, which the index on it answers without reading the
    // table (the status page asks twice a second); a listing in the order the jobs came.
    sql += filter.newestFirstLimit > 0
               ? QStringLiteral(" ORDER BY touched DESC LIMIT %1").arg(filter.newestFirstLimit)
               : QStringLiteral(" ORDER BY coalesce(seen, touched), rowid");
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(sql);
    q.bindValue(QStringLiteral(":since"), qint64(filter.since));
    if (!filter.file.empty()) q.bindValue(QStringLiteral(":file"), text(filter.file));
    if (!q.exec()) return sqlError("cannot read the job history " + m_path, q.lastError());
    std::vector<JobRecord> rows;
    const auto str = [&q](int i) { return q.value(i).toString().toStdString(); };
    const auto num = [&q](int i, qint64 none) {
        return q.value(i).isNull() ? none : q.value(i).toLongLong();
    };
    while (q.next()) {
        JobRecord r;
        r.key = str(0);
        r.station = str(1);
        r.folder = str(2);
        r.file = str(3);
        r.size = num(4, -1);
        r.sha256 = str(5);
        r.mode = str(6);
        r.copies = int(num(7, 0));
        r.queue = str(8);
        r.jobId = int(num(9, 0));
        r.jobUuid = str(10);
        r.seen = num(11, 0);
        r.sent = num(12, 0);
        r.ended = num(13, 0);
        r.sends = int(num(14, 0));
        r.failures = int(num(15, 0));
        r.pages = int(num(16, -1));
        r.outcome = outcomeFromWord(str(17));
        r.reason = str(18);
        r.takenOverFrom = str(19);
        rows.push_back(std::move(r));
    }
    // A query left open would hold its read transaction, and the station's log would grow
    // without bound while it stays open.
    const QSqlError error = q.lastError();
    q.finish();
    if (error.isValid()) return sqlError("cannot read the job history " + m_path, error);
    return rows;
}

}  // namespace plx
