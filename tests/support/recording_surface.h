#pragma once
// A print surface that records every operation instead of printing, and can be told to fail.

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "printing/image_area.h"
#include "printing/print_procedures.h"
#include "printing/print_surface.h"

namespace plx::test {

struct RecordedDot {
    float x;
    float y;
    ColorValue color;
    bool operator==(const RecordedDot&) const = default;
};

struct RecordedDocument {
    std::string printer;  // queue of the printer current at the end of the document
    int copies = 0;
    std::string jobName;
    std::string token;  // the claim token the job carried
    std::vector<RecordedDot> dots;
    int pictures = 0;
    std::string unit;                // "pixel" or "inch", as set last
    int quality = 0;                 // the print quality asked for, 0 when none
    std::vector<std::string> drawn;  // "100x40 at 0.5,0.25 size 3.15x3.95" per picture
};

class RecordingSurface : public PrintSurface {
  public:
    std::vector<PrinterInfo> installed{{"Office", "Office colour printer"},
                                       {"QLS-4100-Xe", "QLS-4100 Xe drivers standard"}};
    std::optional<PrinterInfo> currentPrinter = PrinterInfo{"Office", "Office colour printer"};
    std::vector<std::string> ops;   // e.g. "select QLS-4100-Xe", "copies 2", "unit pixel"
    std::vector<RecordedDot> dots;  // dots of the open document
    std::vector<RecordedDocument> documents;
    int aborted = 0;
    // When set, endDocument fails with this error (the document is dropped).
    std::optional<Error> failEndDocument;
    // When set, endDocument makes the job but its answer is lost (ErrorKind::Unanswered), as
    // for a station stopped between handing a job over and learning its number.
    bool loseAnswer = false;
    // When set, listing the printers fails with this error.
    std::optional<Error> failPrinters;
    QueueState state;
    // The server's jobs by id, as jobs() lists them: each job made waits until a test says
    // otherwise (setPhase). Erasing one makes the server forget it. failJobs: the server
    // cannot be asked; jobQueries counts the questions.
    std::map<int, JobStatus> jobStatuses;
    std::map<int, std::string> jobQueues;
    std::optional<Error> failJobs;
    int jobQueries = 0;
    // Like a server with job events: jobChanges() names every job whose status changed (or
    // that went) since the last call; the first call knows nothing. changeQueries and
    // idQueries count jobChanges() and jobsById().
    bool notifies = true;
    int changeQueries = 0;
    int idQueries = 0;
    // Each job made completes at once (a fast printer).
    bool completeAtOnce = false;
    int nextJob = 1;
    void setPhase(int id, JobPhase phase, std::string stateWord = {}, std::string reasons = {},
                  int pages = -1);

    Result<std::vector<PrinterInfo>> printers() override;
    void select(const PrinterInfo& printer) override;
    Result<PrinterInfo> current() override;
    Result<QueueState> queueState() override { return state; }
    Result<std::vector<JobStatus>> jobs(const std::string& queue, int fromId) override;
    Result<JobChanges> jobChanges() override;
    Result<std::vector<JobStatus>> jobsById(const std::vector<int>& ids) override;
    void setCopies(std::int16_t copies) override;
    void setUnit(Unit unit) override;
    void setPrintQuality(int dpi) override;
    void plot(float x, float y, ColorValue color) override;
    void drawPicture(const PictureView& picture, double x, double y, double width, double height,
                     const KeepGoing& pace) override;
    void setJobToken(const std::string& token) override { m_token = token; }
    Result<JobRef> endDocument(const std::string& jobName, const KeepGoing& pace) override;
    void abortDocument() override;

  private:
    int m_copies = 1;
    int m_pictures = 0;
    std::string m_unit;
    int m_quality = 0;
    std::vector<std::string> m_drawn;
    std::string m_token;
    std::optional<std::map<int, JobStatus>> m_reported;  // the jobs as the last changes saw them
};

// A picture held in memory, for the procedures' tests.
class MemoryImageArea : public ImageArea {
  public:
    MemoryImageArea() = default;
    MemoryImageArea(int w, int h, ColorValue fill = 0xFFFFFF) { reset(w, h, fill); }
    void reset(int w, int h, ColorValue fill = 0xFFFFFF);
    // The top byte means nothing: it is filled so that code which forgets the mask fails tests.
    void set(int x, int y, ColorValue c) {
        m_px[std::size_t(y) * std::size_t(m_w) + std::size_t(x)] = c | 0xA5000000u;
    }

    Result<void> load(const std::string& path) override;
    void clear() override {
        m_px.clear(), m_w = 0, m_h = 0;
        ++clears;
    }
    float width() const override { return float(m_w); }
    float height() const override { return float(m_h); }
    ColorValue pixel(int x, int y) const override { return picture().at(x, y); }
    PictureView picture() const override;
    int clears = 0;

  private:
    std::vector<std::uint32_t> m_px;
    int m_w = 0;
    int m_h = 0;
};

// Window operations recorded into the same operation list as the surface's.
class RecordingHost : public PrintHost {
  public:
    explicit RecordingHost(std::vector<std::string>& ops) : m_ops(ops) {}
    bool timerEnabled = true;
    int dialogSetting = 0;
    int yields = 0;
    std::string title;
    std::vector<std::string> titles;
    int abortAfterYields = -1;  // request an abort at that yield

    void setTimerEnabled(bool enabled) override;
    void assignPrinterDialogSetting() override;
    void yieldToWindow() override;
    void setProgressTitle(const std::string& text) override;
    bool abortRequested() const override {
        return abortAfterYields >= 0 && yields >= abortAfterYields;
    }

  private:
    std::vector<std::string>& m_ops;
};

}  // namespace plx::test
