#pragma once
// The print system as the print procedures see it: one current printer and its open job.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/color.h"
#include "common/message.h"
#include "common/print_job.h"
#include "common/result.h"

namespace plx {

enum class Unit { Pixel, Inch };

// Called between the steps of long work (rows of a document, pieces of it sent) so that the
// window's events can run; false: abandon the work (the station is closing). An empty one
// never stops anything.
using KeepGoing = std::function<bool()>;
inline bool mayGoOn(const KeepGoing& pace) { return !pace || pace(); }

// In a row of dots (PrintSurface::plotRow): no dot at this place. Every real colour has a
// zero top byte.
inline constexpr ColorValue kNoDot = 0xFF000000u;
constexpr bool isDot(ColorValue c) { return (c >> 24) == 0; }

struct PrinterInfo {
    std::string queue;        // the print system's own name for the printer
    std::string description;  // its human-readable name; may contain blanks
    bool operator==(const PrinterInfo&) const = default;
};

// What a queue says about itself.
struct QueueState {
    bool stopped = false;              // paused by an operator or by an error
    bool accepting = true;             // takes new jobs
    std::string message;               // the queue's own words, e.g. "out of labels"
    std::vector<std::string> reasons;  // e.g. "media-empty-error", "toner-low-report"
    bool blocksJobs() const { return stopped || !accepting; }
};

class PrintSurface {
  public:
    virtual ~PrintSurface() = default;

    // The installed printers in the print system's order; an error when the print system
    // cannot be asked (never an empty list in its place).
    virtual Result<std::vector<PrinterInfo>> printers() = 0;
    virtual void select(const PrinterInfo& printer) = 0;
    // The current printer: the last one selected, else the print system's default.
    virtual Result<PrinterInfo> current() = 0;
    // The current printer's queue as it stands now.
    virtual Result<QueueState> queueState() = 0;

    virtual void setCopies(std::int16_t copies) = 0;
    virtual void setUnit(Unit unit) = 0;
    virtual void setPrintQuality(int dpi) = 0;

    // One dot of exactly that colour, one unit wide, from the top-left of the printable page.
    virtual void plot(float x, float y, ColorValue color) = 0;
    // A row of dots at once: colours[i] at (x0 + i, y), none where it is kNoDot. The same as
    // plotting them one by one from left to right, which the default does; a surface that
    // can take whole rows saves the call per dot.
    virtual void plotRow(std::int64_t x0, float y, const ColorValue* colours, std::size_t count);
    // The whole picture stretched into the rectangle, in the current unit. The picture's
    // pixels are copied: the caller may clear it right afterwards. `pace` is called between
    // rows; once it says stop, the rest is left undrawn (the caller abandons the document).
    virtual void drawPicture(const PictureView& picture, double x, double y, double width,
                             double height, const KeepGoing& pace) = 0;

    // The next job carries this token to the print server, which keeps it with the job, so
    // that a job whose number was never recorded can be found again. Cleared by the end or
    // abort of the document. Surfaces that cannot carry one ignore it.
    virtual void setJobToken(const std::string& token) { (void)token; }
    // Finish the page and hand the job to the printer. A job opens with the first drawing
    // operation: with nothing drawn no job is made and the id is 0. `pace` is called between
    // the steps of building and sending the document; once it says stop, nothing is handed
    // over and the error is ErrorKind::Aborted.
    virtual Result<JobRef> endDocument(const std::string& jobName, const KeepGoing& pace) = 0;
    // Drop everything drawn since the last end of document; nothing reaches the printer.
    virtual void abortDocument() = 0;

    // The station's own jobs on `queue` whose number is `fromId` or higher, ended ones
    // included, as they stand now. A job the server no longer knows is not in the list.
    virtual Result<std::vector<JobStatus>> jobs(const std::string& queue, int fromId) = 0;
    // Which jobs on the print server, of any queue, have ended or come to wait at the printer
    // since the last call: a question whose cost does not grow with the number of jobs
    // waiting. Not complete when the answer may have missed some (the first call, a server
    // restarted or too busy to keep them all): every job must then be looked up with jobs().
    // The default never knows.
    virtual Result<JobChanges> jobChanges() { return JobChanges{}; }
    // The jobs with these numbers, of any queue, as they stand now; a job the server does not
    // know is left out. The default asks no one and knows none.
    virtual Result<std::vector<JobStatus>> jobsById(const std::vector<int>& ids) {
        (void)ids;
        return std::vector<JobStatus>{};
    }

    // Called again and again while the print server is slow to answer, so that the window's
    // events can run meanwhile; false: give up the request (the station is closing). Unset:
    // the caller waits.
    virtual void setWaitPace(const KeepGoing& pace) { (void)pace; }
    // Nothing more to ask for a while: let go of what the last requests held (connections)
    // and forget the answers kept for this round (the printers, how the queues stand).
    virtual void idle() {}
};

}  // namespace plx
