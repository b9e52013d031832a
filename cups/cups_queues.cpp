#include "cups/cups_surface_shared.h"

#include <cstring>

#include "cups/document_route.h"

namespace plx {

using namespace ipp;

Result<std::vector<PrinterInfo>> CupsPrintSurface::printers() {
    Kept& kept = *m_kept;
    if (kept.printers && Clock::now() - kept.printersAt < kRoundAnswers) return *kept.printers;
    auto response = ask(
        [] {
            ipp_t* request = newRequest(IPP_OP_CUPS_GET_PRINTERS);
            std::vector<const char*> names{"printer-name", "printer-info", "printer-uri-supported"};
            names.insert(names.end(), kQueueFactAttributes.begin(), kQueueFactAttributes.end());
            ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                          int(names.size()), nullptr, names.data());
            return request;
        },
        "cannot list the print server's printers");
    if (!response) return response.error();
    if (failed(ippGetStatusCode(response->get()))) {
        // A server without any printer answers "not found": that is an empty list.
        if (ippGetStatusCode(response->get()) == IPP_STATUS_ERROR_NOT_FOUND) {
            kept.printers = std::vector<PrinterInfo>{};
            kept.printersAt = Clock::now();
            return *kept.printers;
        }
        return serverError("cannot list the print server's printers");
    }
    // Each printer's attributes come as one group; how it stands and its page are kept for
    // this round's readiness check and first document.
    std::vector<PrinterInfo> out;
    PrinterInfo p;
    std::string uri;
    std::unique_ptr<ipp_t, void (*)(ipp_t*)> group(ippNew(), ippDelete);
    auto flush = [&] {
        if (!p.queue.empty()) {
            if (!uri.empty()) m_uris[p.queue] = uri;
            QueueFacts& facts = kept.queues[p.queue];
            facts.state = queueStateOf(group.get());
            facts.page = pageFactsOf(group.get());
            facts.configTime = configTimeOf(group.get());
            facts.fresh = true;
            out.push_back(p);
        }
        p = PrinterInfo{};
        uri.clear();
        group.reset(ippNew());
    };
    for (ipp_attribute_t* a = ippFirstAttribute(response->get()); a != nullptr;
         a = ippNextAttribute(response->get())) {
        const char* name = ippGetName(a);
        if (name == nullptr) {  // the separator between two printers
            flush();
            continue;
        }
        if (ippGetGroupTag(a) != IPP_TAG_PRINTER) continue;
        ippCopyAttribute(group.get(), a, 0);
        const char* value = ippGetString(a, 0, nullptr);
        if (value == nullptr) continue;
        if (std::strcmp(name, "printer-name") == 0) p.queue = value;
        if (std::strcmp(name, "printer-info") == 0) p.description = value;
        if (std::strcmp(name, "printer-uri-supported") == 0) uri = value;
    }
    flush();
    kept.printers = out;
    kept.printersAt = Clock::now();
    return out;
}

Result<PrinterInfo> CupsPrintSurface::current() {
    if (m_current) return *m_current;
    // The server's own default, asked again until it answers.
    auto response = ask(
        [] {
            ipp_t* request = newRequest(IPP_OP_CUPS_GET_DEFAULT);
            requestAttributes(request, {"printer-name", "printer-info"});
            return request;
        },
        "cannot ask the print server for its default printer");
    if (!response) return response.error();
    const std::string name = stringOf(response->get(), "printer-name");
    if (failed(ippGetStatusCode(response->get())) || name.empty()) {
        return makeError(ErrorKind::PrintServer, "the print server names no default printer");
    }
    m_current = PrinterInfo{name, stringOf(response->get(), "printer-info")};
    return *m_current;
}

Result<const CupsPrintSurface::QueueFacts*> CupsPrintSurface::queueFacts(const std::string& queue) {
    QueueFacts& facts = m_kept->queues[queue];
    if (facts.fresh) return &facts;
    auto response = askQueue(queue, kQueueFactAttributes, "how it stands");
    if (!response) return response.error();
    facts.state = queueStateOf(response->get());
    facts.page = pageFactsOf(response->get());
    facts.configTime = configTimeOf(response->get());
    facts.fresh = true;
    return &facts;
}

Result<QueueState> CupsPrintSurface::queueState() {
    Result<PrinterInfo> printer = current();
    if (!printer) return printer.error();
    Result<const QueueFacts*> facts = queueFacts(printer->queue);
    if (!facts) return facts.error();
    return (*facts)->state;
}

DocumentRoute CupsPrintSurface::routeFor(const std::string& queue, const QueueFacts& facts,
                                         const LabelPage& page, const std::string& media) {
    Kept::Ppd& ppd = m_kept->ppds[queue];
    const auto now = Clock::now();
    // Both times count whole seconds: a change in the very second of the last look would
    // move neither, so a copy fetched in the second of a change is looked at once more, and
    // fetched whole rather than "if modified since".
    const bool sameSecond =
        ppd.checkedServerTime <= time_t(facts.configTime) || ppd.checkedServerTime <= ppd.modified;
    const bool ask = !ppd.known || facts.configTime < 0 || facts.configTime != ppd.configTime ||
                     sameSecond || now - ppd.checkedAt > kPpdRecheck;
    if (ask) {
        // One GET, sent only if the PPD changed; a class has none of its own, and libcups
        // then finds a member's.
        const std::string resource = resourceOf(printerUri(queue)) + ".ppd";
        time_t serverNow = 0;
        if (sameSecond) ppd.modified = 0;
        const Result<PpdFetch> fetched = whileWaiting([&](const KeepGoing&) -> Result<PpdFetch> {
            PpdFetch got = PpdFetch::Failed;
            for (int attempt = 0; attempt < 2 && got == PpdFetch::Failed && !m_abandoned;
                 ++attempt) {
                Result<http_t*> http = connection();
                if (!http) break;
                got = fetchPpdText(*http, resource, ppd.modified, ppd.text, &serverNow);
                if (got == PpdFetch::None)
                    got = fetchMemberPpd(*http, queue, ppd.modified, ppd.text);
                if (got == PpdFetch::Failed) dropConnection();
            }
            return got;
        });
        const PpdFetch got = fetched ? *fetched : PpdFetch::Failed;
        if (got == PpdFetch::Fetched || got == PpdFetch::None) ppd.route.reset();
        if (got == PpdFetch::None) ppd.text.clear();
        if (got != PpdFetch::Failed) {
            ppd.known = true;
            ppd.configTime = facts.configTime;
            ppd.checkedServerTime = serverNow > 0 ? serverNow : std::time(nullptr);
            ppd.checkedAt = now;
        }
    }
    if (!ppd.known) return routeForPpd({}, queue, page, media);
    // The same PPD, page and media make the same route.
    const std::string key = std::to_string(page.widthPt) + "x" + std::to_string(page.heightPt) +
                            "@" + std::to_string(page.dpi) + " " + media;
    if (!ppd.route || ppd.routeFor != key) {
        ppd.route = routeForPpd(ppd.text, queue, page, media);
        ppd.routeFor = key;
    }
    return *ppd.route;
}
}  // namespace plx
