#include "app/job_records.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <set>

#include "common/unique_fd.h"
#include "monitoring/content_digest.h"

namespace plx {

JobRecords::JobRecords(HistoryRecorder& recorder, std::string mode, QObject* parent)
    : QObject(parent), m_recorder(recorder), m_mode(std::move(mode)) {
    // One picture at a time: the checksums must not take the cores the printing needs.
    m_digests.setMaxThreadCount(1);
}

JobRecords::~JobRecords() {
    m_stop->store(true);
    m_digests.waitForDone();
}

void JobRecords::waitForDigests() {
    m_digests.waitForDone();
    QCoreApplication::sendPostedEvents(this);
}

// The row a claimed job belongs to: the one its file was put back from, when it was, else a
// row of its own named by its claim token (which a restarted station finds again).
std::string JobRecords::rowFor(const JobEvent& e, bool claim) {
    if (const auto known = m_keys.find(e.token); known != m_keys.end()) return known->second;
    std::string key = e.token;
    if (claim) {
        if (const auto open = m_open.find(e.file); open != m_open.end()) {
            key = open->second;
            m_open.erase(open);
        }
    }
    if (!e.token.empty()) m_keys[e.token] = key;
    return key;
}

JobFile JobRecords::jobFile(const std::string& key, const JobEvent& e) const {
    return JobFile{key, e.file, e.size, {}, m_mode, e.copies};
}

std::string JobRecords::digestNow(const JobEvent& e) {
    if (e.fd < 0 || e.size < 0 || e.size > kInlineDigestBytes) return {};
    const Result<std::string> sum = sha256OfFile(e.fd);
    return sum ? *sum : std::string();
}

void JobRecords::seen(const std::string& key, const JobEvent& e, std::int64_t at) {
    JobFile job = jobFile(key, e);
    job.sha256 = digestNow(e);
    m_recorder.seen(job, at);
    if (job.sha256.empty()) digestLater(job, e, at);
}

void JobRecords::digestLater(const JobFile& job, const JobEvent& e, std::int64_t at) {
    if (e.fd < 0) return;
    // Read through a descriptor of its own: the intake closes its own when the call returns.
    const int own = ::fcntl(e.fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0) return;
    auto fd = std::make_shared<UniqueFd>(own);
    m_digests.start([this, fd, job, at, stop = m_stop]() mutable {
        // The row is brought up to date by the same event, now with the checksum.
        const Result<std::string> sum = sha256OfFile(fd->get(), stop.get());
        fd.reset();
        if (!sum) return;
        JobFile summed = job;
        summed.sha256 = *sum;
        QMetaObject::invokeMethod(
            this, [this, summed, at] { m_recorder.seen(summed, at); }, Qt::QueuedConnection);
    });
}

// The label goes back into the folder to be printed again: its row waits for it there.
void JobRecords::reopen(const std::string& key, const JobEvent& e) {
    m_keys.erase(e.token);
    m_open[e.returnedAs.empty() ? e.file : e.returnedAs] = key;
}

void JobRecords::close(const JobEvent& e) { m_keys.erase(e.token); }

void JobRecords::record(const JobEvent& e, const Context& c) {
    const std::string reason = e.reason.text();
    switch (e.decision) {
        case JobDecision::Sent: {
            const std::string key = rowFor(e, true);
            if (e.fd >= 0) seen(key, e, c.seenAt);
            if (e.jobId > 0) m_recorder.sent(key, e.file, JobSent{e.queue, e.jobId, e.uuid});
            return;
        }
        case JobDecision::Printed:
            m_recorder.ended(rowFor(e, false), e.file, JobOutcome::Printed, e.pages, {});
            close(e);
            return;
        case JobDecision::Cancelled:
            m_recorder.ended(rowFor(e, false), e.file, JobOutcome::Cancelled, e.pages, reason);
            close(e);
            return;
        case JobDecision::FailedAtPrinter: {
            const std::string key = rowFor(e, false);
            m_recorder.failed(key, e.file, reason);
            reopen(key, e);
            return;
        }
        case JobDecision::SetAside: {
            const std::string key = rowFor(e, false);
            m_recorder.failed(key, e.file, reason);
            m_recorder.ended(key, e.file, JobOutcome::SetAside, -1,
                             "failed at the printer again and again, set aside: " + reason);
            close(e);
            return;
        }
        case JobDecision::UnknownToServer:
            // Whether it printed cannot be told: this row ends so, and the file printed again
            // is a row of its own.
            m_recorder.ended(rowFor(e, false), e.file, JobOutcome::Unknown, -1, reason);
            close(e);
            return;
        case JobDecision::Returned:
            reopen(rowFor(e, false), e);
            return;
        case JobDecision::Resumed:
            return;
        case JobDecision::TakenOver:
            m_recorder.takenOver(rowFor(e, false), e.file, c.holder);
            return;
        case JobDecision::NothingToPrint:
        case JobDecision::Rejected: {
            const JobOutcome outcome = e.decision == JobDecision::NothingToPrint
                                           ? JobOutcome::NothingToPrint
                                           : JobOutcome::SetAside;
            const std::string key = rowFor(e, true);
            if (!key.empty() && key != e.token) {
                // A file printed again: its row goes on.
                seen(key, e, c.seenAt);
                m_recorder.ended(key, e.file, outcome, -1, reason);
            } else {
                JobFile job = jobFile(key, e);
                job.sha256 = digestNow(e);
                job.key = m_recorder.decided(job, outcome, reason);
                if (job.sha256.empty()) digestLater(job, e, c.seenAt);
            }
            close(e);
            return;
        }
        case JobDecision::Withdrawn: {
            std::string key = e.token.empty() ? std::string() : rowFor(e, false);
            if (key.empty()) {
                const auto open = m_open.find(e.file);
                if (open == m_open.end()) return;  // never decided on: no row
                key = open->second;
                m_open.erase(open);
            }
            m_recorder.ended(key, e.file, JobOutcome::Withdrawn, -1, reason);
            close(e);
            return;
        }
    }
}

void JobRecords::listed(const std::vector<std::string>& names) {
    if (m_open.empty()) return;
    const std::set<std::string> present(names.begin(), names.end());
    for (auto it = m_open.begin(); it != m_open.end();) {
        if (present.count(it->first) != 0) {
            ++it;
            continue;
        }
        m_recorder.ended(it->second, it->first, JobOutcome::Withdrawn, -1,
                         "the file went away before it was printed again");
        it = m_open.erase(it);
    }
}

}  // namespace plx
