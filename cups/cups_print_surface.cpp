#include "cups/cups_surface_shared.h"

namespace plx {

using namespace ipp;

CupsPrintSurface::CupsPrintSurface() : CupsPrintSurface(std::string(cupsServer())) {}

CupsPrintSurface::CupsPrintSurface(std::string server)
    : m_server(std::move(server)),
      m_http(nullptr, [](http_t* h) { httpClose(h); }),
      m_kept(std::make_unique<Kept>()) {}

CupsPrintSurface::~CupsPrintSurface() {
    // The subscription would outlive the station until its lease ends: given back, if the
    // server answers soon.
    m_waitPace = {};
    const int id = m_kept->subscription.id;
    if (id <= 0) return;
    if (Result<http_t*> http = connection()) httpSetTimeout(*http, 2.0, nullptr, nullptr);
    (void)ask([id] { return subscriptionRequest(IPP_OP_CANCEL_SUBSCRIPTION, id); },
              "cannot cancel the event subscription");
}

Result<http_t*> CupsPrintSurface::connection() {
    const std::lock_guard<std::mutex> lock(m_connectionLock);
    const auto now = Clock::now();
    if (m_http && now - m_httpUsed > kIdleReconnect) m_http.reset();
    if (!m_http) {
        Result<http_t*> h = connectTo(m_server);
        if (!h) return h.error();
        m_http.reset(*h);
    }
    m_httpUsed = now;
    return m_http.get();
}

void CupsPrintSurface::dropConnection() {
    const std::lock_guard<std::mutex> lock(m_connectionLock);
    m_http.reset();
}

void CupsPrintSurface::idle() {
    dropConnection();
    m_kept->printers.reset();
    for (auto& [queue, facts] : m_kept->queues) facts.fresh = false;
}

Result<std::shared_ptr<ipp_t>> CupsPrintSurface::ask(const std::function<ipp_t*()>& make,
                                                     const std::string& what) {
    return whileWaiting([&](const KeepGoing&) -> Result<std::shared_ptr<ipp_t>> {
        for (int attempt = 0;; ++attempt) {
            Result<http_t*> http = connection();
            if (!http) return http.error();
            ipp_t* response = cupsDoRequest(*http, make(), "/");
            if (response != nullptr) return std::shared_ptr<ipp_t>(response, ippDelete);
            // No answer at all: the connection is gone (a server restarted meanwhile, say).
            Error e = serverError(what);
            dropConnection();
            if (m_abandoned) return abandonedWait();
            if (attempt > 0) return e;
        }
    });
}

std::string CupsPrintSurface::printerUri(const std::string& queue) const {
    const auto known = m_uris.find(queue);
    if (known != m_uris.end()) return known->second;
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(),
                     "/printers/%s", queue.c_str());
    return uri;
}

Result<std::shared_ptr<ipp_t>> CupsPrintSurface::askQueue(
    const std::string& queue, std::initializer_list<const char*> attributes,
    const std::string& what) {
    const std::string uri = printerUri(queue);
    auto response = ask(
        [&] {
            ipp_t* request = newRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
            ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                         uri.c_str());
            requestAttributes(request, attributes);
            return request;
        },
        "cannot ask print queue \"" + queue + "\" " + what);
    if (!response) return response.error();
    if (failed(ippGetStatusCode(response->get())))
        return serverError("print queue \"" + queue + "\" not found");
    return response;
}

void CupsPrintSurface::select(const PrinterInfo& printer) {
    m_current = printer;
    m_copies = 1;
    m_quality = 0;
}
}  // namespace plx
