#include "cups/cups_surface_shared.h"

#include <algorithm>
#include <exception>

#include "cups/ipp_decisions.h"

namespace plx {

using namespace ipp;

namespace {

// Options collected for one job, freed with it.
class Options {
  public:
    Options() = default;
    Options(const Options&) = delete;
    Options& operator=(const Options&) = delete;
    ~Options() { cupsFreeOptions(m_count, m_options); }
    void add(const char* name, const std::string& value) {
        m_count = cupsAddOption(name, value.c_str(), m_count, &m_options);
    }
    int count() const { return m_count; }
    cups_option_t* get() const { return m_options; }

  private:
    int m_count = 0;
    cups_option_t* m_options = nullptr;
};

}  // namespace

// The job's uuid, which Print-Job does not answer with; empty when the server gives none.
std::string CupsPrintSurface::jobUuid(int id) {
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(),
                     "/jobs/%d", id);
    auto response = ask(
        [&] {
            ipp_t* request = newRequest(IPP_OP_GET_JOB_ATTRIBUTES);
            ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri);
            requestAttributes(request, {"job-uuid"});
            return request;
        },
        "cannot ask the print server about job " + std::to_string(id));
    if (!response || failed(ippGetStatusCode(response->get()))) return {};
    return stringOf(response->get(), "job-uuid");
}

Result<void> CupsPrintSurface::finishDocument(const KeepGoing& pace) {
    const auto t0 = Clock::now();
    try {
        if (!m_doc->finish(pace)) return abandoned();
    } catch (const std::exception& e) {
        // Out of memory, say: not the job's fault, so it is tried again.
        return makeError(ErrorKind::Io,
                         std::string("cannot build the print document: ") + e.what());
    }
    m_figures.buildSeconds = std::chrono::duration<double>(Clock::now() - t0).count();
    m_figures.format = m_doc->format();
    m_figures.route = m_docRoute;
    return {};
}

// One Print-Job request: the server makes the job only once it has the whole document, so a
// connection lost on the way leaves no job behind.
Result<int> CupsPrintSurface::submit(const std::string& queue, const std::string& jobName,
                                     const KeepGoing& pace) {
    // All of it (compressing the raster on the way too) off the window's thread, which pace
    // turns meanwhile; once pace says stop, no further piece goes out.
    return whileWaiting(
        [&](const KeepGoing& goOn) { return sendJob(queue, jobName, goOn ? goOn : pace); }, pace);
}

ipp_t* CupsPrintSurface::printJobRequest(const std::string& uri, const std::string& jobName) const {
    const int dpi = m_page.dpi;
    Options options;
    options.add("copies", std::to_string(m_doc->holdsCopies() ? 1 : m_copies));
    // The IPP attribute for IPP printers, the PPD option for PPD queues: the raster must be
    // made at the resolution the document was laid out for.
    options.add("printer-resolution", std::to_string(dpi) + "dpi");
    options.add("Resolution", std::to_string(dpi) + "dpi");
    options.add("print-color-mode", "color");
    // Page coordinates must arrive unchanged: no scaling, fitting or rotating by the filters.
    options.add("print-scaling", "none");
    options.add("fit-to-page", "false");
    options.add("number-up", "1");
    if (!m_docMedia.empty()) options.add("media", m_docMedia);

    ipp_t* request = newRequest(IPP_OP_PRINT_JOB);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr,
                 ippJobName(jobName).c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr,
                 m_doc->format().c_str());
    cupsEncodeOptions2(request, options.count(), options.get(), IPP_TAG_OPERATION);
    cupsEncodeOptions2(request, options.count(), options.get(), IPP_TAG_JOB);
    if (!m_jobToken.empty())
        ippAddString(request, IPP_TAG_JOB, IPP_TAG_NAME, kJobTokenAttribute, nullptr,
                     m_jobToken.c_str());
    return request;
}

Result<int> CupsPrintSurface::sendJob(const std::string& queue, const std::string& jobName,
                                      const KeepGoing& pace) {
    const auto t0 = Clock::now();
    Result<http_t*> http = connection();
    if (!http) return http.error();
    http_t* h = *http;

    const std::string uri = printerUri(queue);
    ipp_t* request = printJobRequest(uri, jobName);
    std::unique_ptr<ipp_t, void (*)(ipp_t*)> sent(request, ippDelete);

    const std::string resource = resourceOf(uri);
    // Chunked: a raster is compressed while it is sent, so its length is not known before.
    bool ok =
        cupsSendRequest(h, request, resource.c_str(), CUPS_LENGTH_VARIABLE) == HTTP_STATUS_CONTINUE;
    std::string why;
    bool stopped = false;
    try {
        constexpr std::size_t kChunk = std::size_t{256} * 1024;
        ok = ok && m_doc->writeTo(m_copies, [&](const char* data, std::size_t size) {
            for (std::size_t off = 0; off < size; off += kChunk) {
                // Asked before each piece, never after the last: stopped, the request is left
                // unfinished, so the server makes no job of it.
                if (!mayGoOn(pace)) {
                    stopped = true;
                    return false;
                }
                const std::size_t n = std::min(kChunk, size - off);
                if (cupsWriteRequestData(h, data + off, n) != HTTP_STATUS_CONTINUE) return false;
            }
            m_figures.documentBytes += size;
            return true;
        });
    } catch (const std::exception& e) {
        // Compressing on the way can run out of memory too.
        ok = false;
        why = std::string(": ") + e.what();
    }
    if (stopped || (!ok && m_abandoned)) {
        dropConnection();
        return abandoned();
    }
    std::unique_ptr<ipp_t, void (*)(ipp_t*)> response(
        ok ? cupsGetResponse(h, resource.c_str()) : nullptr, ippDelete);
    if (!response || failed(ippGetStatusCode(response.get()))) {
        // A request cut off half way is dropped with its connection: the server makes no job.
        // One that went out whole and got no answer may have made one.
        Error e =
            m_abandoned
                ? makeError(ErrorKind::PrintServer, "the station closed before print queue \"" +
                                                        queue + "\" said whether it took the job")
                : serverError("print queue \"" + queue + "\" did not take the job" + why);
        if (!response) {
            dropConnection();
            if (ok) e.kind = ErrorKind::Unanswered;
        }
        return e;
    }
    ipp_attribute_t* id = ippFindAttribute(response.get(), "job-id", IPP_TAG_INTEGER);
    if (id == nullptr || ippGetInteger(id, 0) <= 0) {
        return makeError(ErrorKind::Unanswered,
                         "print queue \"" + queue + "\" took the job but gave it no id");
    }
    m_figures.submitSeconds = std::chrono::duration<double>(Clock::now() - t0).count();
    return ippGetInteger(id, 0);
}

Result<JobRef> CupsPrintSurface::endDocument(const std::string& jobName, const KeepGoing& pace) {
    m_figures = SubmissionFigures{};
    // Whatever happens below, the next drawing opens a new document.
    struct Closer {
        CupsPrintSurface* s;
        ~Closer() { s->abortDocument(); }
    } closer{this};

    // Nothing drawn on the page: no job, so no blank label.
    if (!m_doc || m_doc->empty()) return JobRef{m_current ? m_current->queue : "", 0, {}};
    if (m_copies < 1) {
        return makeError(ErrorKind::Invalid,
                         "copy count " + std::to_string(m_copies) + " is below 1: nothing printed");
    }
    if (m_docError) return *m_docError;
    Result<PrinterInfo> printer = current();
    if (!printer) return printer.error();

    // A stopped queue would keep the job without printing it; one that rejects would refuse
    // it. Either way the job must wait here, where its file still is.
    if (const auto refused = queueRefusal(printer->queue, m_docState))
        return makeError(ErrorKind::PrintServer, *refused);

    if (Result<void> finished = finishDocument(pace); !finished) return finished.error();
    Result<int> id = submit(printer->queue, jobName, pace);
    // Whatever came of it, the queue is asked again before the next job.
    m_kept->queues[printer->queue].fresh = false;
    if (!id) return id.error();
    return JobRef{printer->queue, *id, m_docNotice, jobUuid(*id)};
}
}  // namespace plx
