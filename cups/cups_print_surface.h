#pragma once
// The print surface over a CUPS print server: each document becomes one CUPS job whose
// document (the printer's raster where its driver takes one, else a PDF) is written so that
// dots reach the printer's raster unchanged.
//
// What it asks, it asks once a round (until idle()): the printers, with how each stands and
// its page, in one request; a queue is asked again before the next job once a job has gone to
// it. The queue's PPD is kept while the server says its configuration has not changed. Jobs
// are followed through an event subscription (ippget), so that finding what changed costs
// one request however many jobs wait. With a wait pace set, every request (a job's document
// too) runs on a thread of its own while the pace runs the window, so a server that stops
// answering does not stop the window.

#include <atomic>
#include <chrono>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cups/document_route.h"
#include "document/label_document.h"
#include "document/print_document.h"
#include "printing/print_surface.h"

// libcups' own names, declared here so that users of the surface need not include libcups.
// NOLINTBEGIN(bugprone-reserved-identifier,readability-identifier-naming)
typedef struct _http_s http_t;
typedef struct _ipp_s ipp_t;
// NOLINTEND(bugprone-reserved-identifier,readability-identifier-naming)

namespace plx {

// What the last endDocument cost, for logging and the benchmarks.
struct SubmissionFigures {
    std::size_t documentBytes = 0;
    double buildSeconds = 0.0;   // finishing the document (a PDF is laid out and compressed)
    double submitSeconds = 0.0;  // the Print-Job request, document included
    std::string format;          // the document format sent
    std::string route;           // why that document
};

class CupsPrintSurface : public PrintSurface {
  public:
    // The server libcups is configured for (CUPS_SERVER, client.conf, or the default socket).
    CupsPrintSurface();
    // A given server: a unix socket path or a host name (optionally host:port).
    explicit CupsPrintSurface(std::string server);
    ~CupsPrintSurface() override;
    CupsPrintSurface(const CupsPrintSurface&) = delete;
    CupsPrintSurface& operator=(const CupsPrintSurface&) = delete;

    Result<std::vector<PrinterInfo>> printers() override;
    void select(const PrinterInfo& printer) override;
    Result<PrinterInfo> current() override;
    Result<QueueState> queueState() override;

    void setCopies(std::int16_t copies) override;
    void setUnit(Unit unit) override;
    void setPrintQuality(int dpi) override;

    void plot(float x, float y, ColorValue color) override;
    void plotRow(std::int64_t x0, float y, const ColorValue* colours, std::size_t count) override;
    void drawPicture(const PictureView& picture, double x, double y, double width, double height,
                     const KeepGoing& pace) override;

    void setJobToken(const std::string& token) override { m_jobToken = token; }
    Result<JobRef> endDocument(const std::string& jobName, const KeepGoing& pace) override;
    void abortDocument() override;

    Result<std::vector<JobStatus>> jobs(const std::string& queue, int fromId) override;
    Result<JobChanges> jobChanges() override;
    Result<std::vector<JobStatus>> jobsById(const std::vector<int>& ids) override;
    void setWaitPace(const KeepGoing& pace) override { m_waitPace = pace; }
    // The station's own name for its event subscription (at most 63 bytes): one that an
    // earlier run of the same station left behind (killed before it could give it back) is
    // cancelled when a new one is made, rather than kept by the server until its lease ends.
    void setSubscriber(std::string name) { m_subscriber = std::move(name); }
    void idle() override;

    const std::string& server() const { return m_server; }
    // The resolution the open document is laid out for (0 when none is open).
    int documentDpi() const { return m_doc ? m_page.dpi : 0; }
    const SubmissionFigures& lastSubmission() const { return m_figures; }
    // Off: every document is a PDF, whatever the queue's driver takes (tests and benchmarks
    // compare the routes). Takes effect at the next document.
    void setRasterDocuments(bool on) { m_rasterDocuments = on; }

  private:
    struct Kept;        // answers kept for the round, PPDs, the event subscription
    struct QueueFacts;  // how a queue stands and its page, as last asked

    // The one connection, opened on first use; reopened after an idle spell or a failure.
    Result<http_t*> connection();
    void dropConnection();
    // Runs `work` (talking to the server) on a thread of its own while `pace` (else the wait
    // pace) runs the window on this one, about fifty times a second; without either, here.
    // `work` gets a KeepGoing that runs the pace on this thread when the work asks it to
    // (before each piece of a document). Once the pace says stop, m_abandoned is set and,
    // after a moment for an answer on its way, the connection is shut down, which ends the
    // work. An error when work is already under way (a window event that reached the
    // surface while it waited).
    template <typename Work>
    auto whileWaiting(Work work, const KeepGoing& pace = {}) -> decltype(work(KeepGoing{}));
    // Sends a request that may be repeated; a connection lost since its last use is opened
    // again once. `make` builds a fresh request for each attempt.
    Result<std::shared_ptr<ipp_t>> ask(const std::function<ipp_t*()>& make,
                                       const std::string& what);
    std::string printerUri(const std::string& queue) const;
    // Get-Printer-Attributes for `queue`; a queue the server does not know is an error.
    Result<std::shared_ptr<ipp_t>> askQueue(const std::string& queue,
                                            std::initializer_list<const char*> attributes,
                                            const std::string& what);
    // How `queue` stands and its page: from this round's answers while no job has gone to it
    // since, else asked now.
    Result<const QueueFacts*> queueFacts(const std::string& queue);
    // The route for the next document to `queue`, from its PPD as kept; the PPD is asked
    // again (only if changed) when the queue's configuration changed or a while has passed.
    DocumentRoute routeFor(const std::string& queue, const QueueFacts& facts, const LabelPage& page,
                           const std::string& media);
    Result<void> subscribe();
    Result<void> cancelLeftBehind();

    // Opens the document at the first drawing operation: page size and resolution are
    // taken from the current printer then and stay fixed for this document.
    PrintDocument& document();
    Result<void> setUpPage();
    double scale() const;
    Result<void> finishDocument(const KeepGoing& pace);
    Result<int> submit(const std::string& queue, const std::string& jobName, const KeepGoing& pace);
    Result<int> sendJob(const std::string& queue, const std::string& jobName,
                        const KeepGoing& pace);
    // The Print-Job request for the open document, without the document.
    ipp_t* printJobRequest(const std::string& uri, const std::string& jobName) const;
    std::string jobUuid(int id);

    std::string m_server;
    std::unique_ptr<http_t, void (*)(http_t*)> m_http;
    std::chrono::steady_clock::time_point m_httpUsed{};
    std::map<std::string, std::string> m_uris;  // queue -> printer-uri-supported
    std::unique_ptr<Kept> m_kept;
    KeepGoing m_waitPace;
    std::string m_subscriber;
    bool m_requesting = false;             // work for the server is under way
    std::atomic<bool> m_abandoned{false};  // the pace said stop during the last work
    std::mutex m_connectionLock;           // the connection, between the work and a stop

    std::optional<PrinterInfo> m_current;  // selected, or the default once known
    std::int16_t m_copies = 1;
    Unit m_unit = Unit::Pixel;
    int m_quality = 0;  // requested dpi, 0 = the printer's default

    std::unique_ptr<PrintDocument> m_doc;
    LabelPage m_page;  // the open document's layout
    std::string m_docRoute;
    bool m_rasterDocuments = true;
    QueueState m_docState;            // the queue as it stood when the document opened
    std::optional<Error> m_docError;  // the printer could not be asked how to lay it out
    double m_originX = 0.0;           // printable area's top-left corner, in device dots
    double m_originY = 0.0;
    std::string m_docMedia;
    Message m_docNotice;
    std::string m_jobToken;  // carried by the next job
    SubmissionFigures m_figures;
};

}  // namespace plx
