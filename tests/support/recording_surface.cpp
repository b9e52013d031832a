#include "tests/support/recording_surface.h"

#include <sstream>
#include <utility>

namespace plx::test {

Result<std::vector<PrinterInfo>> RecordingSurface::printers() {
    ops.push_back("list printers");
    if (failPrinters) return *failPrinters;
    return installed;
}

Result<PrinterInfo> RecordingSurface::current() {
    if (!currentPrinter) return makeError(ErrorKind::PrintServer, "no default printer");
    return *currentPrinter;
}

Result<std::vector<JobStatus>> RecordingSurface::jobs(const std::string& queue, int fromId) {
    ++jobQueries;
    if (failJobs) return *failJobs;
    std::vector<JobStatus> out;
    for (const auto& [id, status] : jobStatuses) {
        if (id >= fromId && jobQueues[id] == queue) out.push_back(status);
    }
    return out;
}

Result<JobChanges> RecordingSurface::jobChanges() {
    ++changeQueries;
    if (failJobs) return *failJobs;
    JobChanges out;
    if (notifies && m_reported) {
        out.complete = true;
        auto same = [](const JobStatus& a, const JobStatus& b) {
            return a.phase == b.phase && a.state == b.state && a.uuid == b.uuid &&
                   a.token == b.token;
        };
        for (const auto& [id, was] : *m_reported) {
            const auto now = jobStatuses.find(id);
            if (now == jobStatuses.end() || !same(now->second, was)) out.changed.insert(id);
        }
        for (const auto& [id, now] : jobStatuses) {
            if (!m_reported->contains(id) && now.phase != JobPhase::Waiting) out.changed.insert(id);
        }
    }
    if (notifies) m_reported = jobStatuses;
    return out;
}

Result<std::vector<JobStatus>> RecordingSurface::jobsById(const std::vector<int>& ids) {
    ++idQueries;
    if (failJobs) return *failJobs;
    std::vector<JobStatus> out;
    for (const int id : ids) {
        const auto s = jobStatuses.find(id);
        if (s != jobStatuses.end()) out.push_back(s->second);
    }
    return out;
}

void RecordingSurface::setPhase(int id, JobPhase phase, std::string stateWord, std::string reasons,
                                int pages) {
    JobStatus& s = jobStatuses[id];
    s.phase = phase;
    s.state = std::move(stateWord);
    s.reasons = std::move(reasons);
    s.pages = pages;
}

void RecordingSurface::select(const PrinterInfo& printer) {
    ops.push_back("select " + printer.queue);
    currentPrinter = printer;
}

void RecordingSurface::setCopies(std::int16_t copies) {
    ops.push_back("copies " + std::to_string(copies));
    m_copies = copies;
}

void RecordingSurface::setUnit(Unit unit) {
    m_unit = unit == Unit::Pixel ? "pixel" : "inch";
    ops.push_back("unit " + m_unit);
}

void RecordingSurface::setPrintQuality(int dpi) {
    ops.push_back("quality " + std::to_string(dpi));
    m_quality = dpi;
}

void RecordingSurface::plot(float x, float y, ColorValue color) {
    // One entry for a run of plots keeps the operation list readable.
    if (ops.empty() || ops.back() != "plot") ops.push_back("plot");
    dots.push_back({x, y, color});
}

void RecordingSurface::drawPicture(const PictureView& picture, double x, double y, double width,
                                   double height, const KeepGoing& pace) {
    // Asked once a row, as a real document asks while it draws; stopped, nothing is drawn.
    for (int row = 0; row < picture.height; ++row) {
        if (!mayGoOn(pace)) return;
    }
    std::ostringstream s;
    s << picture.width << "x" << picture.height << " at " << x << "," << y << " size " << width
      << "x" << height;
    m_drawn.push_back(s.str());
    ops.push_back("draw " + s.str());
    ++m_pictures;
}

Result<JobRef> RecordingSurface::endDocument(const std::string& jobName, const KeepGoing& pace) {
    ops.push_back("end document");
    const std::string token = std::exchange(m_token, {});
    std::optional<Error> failure = failEndDocument;
    // Asked once, as a real surface asks between the pieces it sends.
    if (!failure && (!dots.empty() || m_pictures > 0) && !mayGoOn(pace))
        failure = makeError(ErrorKind::Aborted, "abandoned while sent");
    if (failure) {
        dots.clear();
        m_drawn.clear();
        m_pictures = 0;
        return *failure;
    }
    const std::string queue = currentPrinter ? currentPrinter->queue : "";
    if (dots.empty() && m_pictures == 0) return JobRef{queue, 0, {}};  // nothing drawn: no job
    RecordedDocument doc;
    doc.printer = queue;
    doc.copies = m_copies;
    doc.jobName = jobName;
    doc.token = token;
    doc.dots = std::move(dots);
    doc.pictures = m_pictures;
    doc.unit = m_unit;
    doc.quality = std::exchange(m_quality, 0);
    doc.drawn = std::exchange(m_drawn, {});
    const int id = nextJob++;
    const JobRef job{doc.printer, id, {}, "urn:uuid:recorded-" + std::to_string(id)};
    JobStatus& status = jobStatuses[id];
    status = JobStatus{};
    status.id = id;
    status.uuid = job.uuid;
    status.token = token;
    if (completeAtOnce) {
        status.phase = JobPhase::Completed;
        status.state = "completed";
    }
    jobQueues[id] = doc.printer;
    documents.push_back(std::move(doc));
    dots.clear();
    m_pictures = 0;
    if (loseAnswer) return makeError(ErrorKind::Unanswered, "the print server did not answer");
    return job;
}

void RecordingSurface::abortDocument() {
    ops.push_back("abort document");
    m_token.clear();
    dots.clear();
    m_drawn.clear();
    m_pictures = 0;
    ++aborted;
}

void MemoryImageArea::reset(int w, int h, ColorValue fill) {
    m_w = w;
    m_h = h;
    m_px.assign(std::size_t(w) * std::size_t(h), fill | 0xA5000000u);
}

Result<void> MemoryImageArea::load(const std::string& path) {
    return makeError(ErrorKind::Invalid, path + ": the memory image area loads no files");
}

PictureView MemoryImageArea::picture() const {
    if (m_px.empty()) return {};
    return PictureView{m_px.data(), m_w, m_h, m_w};
}

void RecordingHost::setTimerEnabled(bool enabled) {
    m_ops.push_back(enabled ? "timer on" : "timer off");
    timerEnabled = enabled;
}

void RecordingHost::assignPrinterDialogSetting() {
    m_ops.push_back("dialog setting");
    dialogSetting = 5;
}

void RecordingHost::yieldToWindow() { ++yields; }

void RecordingHost::setProgressTitle(const std::string& text) {
    title = text;
    titles.push_back(text);
}

}  // namespace plx::test
