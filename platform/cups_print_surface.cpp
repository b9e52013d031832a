#include "platform/cups_print_surface.h"

#include <cups/cups.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>

namespace plx {

namespace {

struct HttpCloser {
    void operator()(http_t* h) const { httpClose(h); }
};
struct DestFreer {
    void operator()(cups_dest_t* d) const { cupsFreeDests(1, d); }
};
struct InfoFreer {
    void operator()(cups_dinfo_t* i) const { cupsFreeDestInfo(i); }
};
struct IppFreer {
    void operator()(ipp_t* i) const { ippDelete(i); }
};
using Http = std::unique_ptr<http_t, HttpCloser>;
using Dest = std::unique_ptr<cups_dest_t, DestFreer>;
using DestInfo = std::unique_ptr<cups_dinfo_t, InfoFreer>;
using Ipp = std::unique_ptr<ipp_t, IppFreer>;

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

Error serverError(const std::string& what) {
    const char* cups = cupsLastErrorString();
    std::string msg = what;
    if (cups != nullptr && *cups != '\0') msg += std::string(": ") + cups;
    return makeError(ErrorKind::PrintServer, msg);
}

// A connection of our own, so that two surfaces can talk to two servers and a restarted
// server never meets a stale connection.
Result<Http> connectTo(const std::string& server) {
    std::string host = server;
    int port = ippPort();
    if (!host.empty() && host[0] != '/') {
        const auto colon = host.rfind(':');
        if (colon != std::string::npos && host.find(']', colon) == std::string::npos &&
            host.find(':') == colon) {
            port = std::atoi(host.c_str() + colon + 1);
            host.resize(colon);
        }
    }
    if (host.empty()) return makeError(ErrorKind::PrintServer, "no print server configured");
    http_t* h = httpConnect2(host.c_str(), port, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_IF_REQUESTED,
                             1, 10000, nullptr);
    if (h == nullptr) {
        // libcups reports a missing socket file as "Host is down": name the real cause.
        struct stat st {};
        std::string cause = cupsLastErrorString();
        if (host[0] == '/' && ::stat(host.c_str(), &st) != 0) cause = std::strerror(errno);
        return makeError(ErrorKind::PrintServer,
                         "cannot reach the print server " + server + ": " + cause);
    }
    // A server that accepts but never answers must not hang the station.
    httpSetTimeout(h, 60.0, nullptr, nullptr);
    return Http(h);
}

struct Destination {
    Dest dest;
    DestInfo info;
};

Result<Destination> findDestination(http_t* http, const std::string& queue) {
    Dest dest(cupsGetNamedDest(http, queue.c_str(), nullptr));
    if (!dest) return serverError("print queue \"" + queue + "\" not found");
    DestInfo info(cupsCopyDestInfo(http, dest.get()));
    if (!info) return serverError("cannot read the capabilities of \"" + queue + "\"");
    return Destination{std::move(dest), std::move(info)};
}

// Square resolutions only: a dot must be as wide as it is high.
int dpiOf(ipp_attribute_t* attr, int index) {
    ipp_res_t units = IPP_RES_PER_INCH;
    int yres = 0;
    const int xres = ippGetResolution(attr, index, &yres, &units);
    if (xres <= 0 || xres != yres) return 0;
    return units == IPP_RES_PER_CM ? static_cast<int>(std::lround(xres * 2.54)) : xres;
}

struct PageSetup {
    LabelPage page;
    double leftPt = 0.0;
    double topPt = 0.0;
    std::string media;
    DocumentRoute route;
};

double hundredthsMmToPt(int v) { return v * 72.0 / 2540.0; }

Result<PageSetup> pageSetupOf(const std::string& server, const std::string& queue, int requestedDpi,
                              bool rasterDocuments) {
    auto http = connectTo(server);
    if (!http) return http.error();
    auto d = findDestination(http->get(), queue);
    if (!d) return d.error();
    http_t* h = http->get();
    cups_dest_t* dest = d->dest.get();
    cups_dinfo_t* info = d->info.get();

    PageSetup setup;
    // cupsGetDestMediaDefault only knows the user's "media" option and otherwise assumes
    // Letter; the queue's own default is media-default.
    cups_size_t size{};
    bool haveSize = false;
    if (ipp_attribute_t* def = cupsFindDestDefault(h, dest, info, "media")) {
        const char* name = ippGetString(def, 0, nullptr);
        haveSize = name != nullptr && cupsGetDestMediaByName(h, dest, info, name, 0, &size);
    }
    if (!haveSize) haveSize = cupsGetDestMediaDefault(h, dest, info, 0, &size) != 0;
    if (!haveSize || size.width <= 0 || size.length <= 0) {
        // A queue without a driver (a raw queue) states no page size: lay out a Letter page,
        // CUPS's own assumption, and name no media in the job.
        size = cups_size_t{};
        size.width = 21590;
        size.length = 27940;
    }
    setup.page.widthPt = hundredthsMmToPt(size.width);
    setup.page.heightPt = hundredthsMmToPt(size.length);
    setup.leftPt = hundredthsMmToPt(size.left);
    setup.topPt = hundredthsMmToPt(size.top);
    setup.media = size.media;

    int dpi = 0;
    if (ipp_attribute_t* def = cupsFindDestDefault(h, dest, info, "printer-resolution")) {
        dpi = dpiOf(def, 0);
    }
    if (requestedDpi > 0) {
        // An unsupported resolution would be ignored by the server and the dots scaled:
        // refuse it instead of printing the wrong size.
        if (ipp_attribute_t* sup = cupsFindDestSupported(h, dest, info, "printer-resolution")) {
            bool offered = false;
            std::string list;
            for (int i = 0; i < ippGetCount(sup); ++i) {
                const int r = dpiOf(sup, i);
                if (r <= 0) continue;
                if (r == requestedDpi) offered = true;
                list += (list.empty() ? "" : ", ") + std::to_string(r);
            }
            if (!offered) {
                return makeError(ErrorKind::Invalid,
                                 "print queue \"" + queue + "\" does not offer " +
                                     std::to_string(requestedDpi) + " dpi (offers " + list + ")");
            }
        }
        dpi = requestedDpi;
    }
    // A queue without a driver (a raw queue) states no resolution: lay the page out at the
    // common 600 dpi rather than refuse every job.
    if (dpi <= 0) dpi = 600;
    setup.page.dpi = dpi;
    if (rasterDocuments) setup.route = routeForQueue(h, queue, setup.page, setup.media);
    return setup;
}

// The server replaces a job name that is not UTF-8 or longer than 255 bytes by "Untitled".
// File names often come in Latin-1: invalid bytes are read as Latin-1, control characters
// become blanks, and the name is cut at a character boundary.
std::string ippJobName(const std::string& name) {
    std::string out;
    const auto* p = reinterpret_cast<const unsigned char*>(name.data());
    const std::size_t n = name.size();
    for (std::size_t i = 0; i < n;) {
        std::size_t len = 0;
        if (p[i] < 0x80) {
            len = 1;
        } else if ((p[i] & 0xE0) == 0xC0 && p[i] >= 0xC2) {
            len = 2;
        } else if ((p[i] & 0xF0) == 0xE0) {
            len = 3;
        } else if ((p[i] & 0xF8) == 0xF0 && p[i] <= 0xF4) {
            len = 4;
        }
        bool valid = len > 0 && i + len <= n;
        for (std::size_t k = 1; valid && k < len; ++k) valid = (p[i + k] & 0xC0) == 0x80;
        if (valid && len == 3) {
            const unsigned cp = (p[i] & 0x0Fu) << 12 | (p[i + 1] & 0x3Fu) << 6;
            valid = cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF);
        }
        if (valid && len == 4) {
            const unsigned cp = (p[i] & 0x07u) << 18 | (p[i + 1] & 0x3Fu) << 12;
            valid = cp >= 0x10000 && cp <= 0x10FFFF;
        }
        std::string ch;
        if (!valid) {
            ch = {char(0xC0 | (p[i] >> 6)), char(0x80 | (p[i] & 0x3F))};
            len = 1;
        } else if (len == 1 && (p[i] < 0x20 || p[i] == 0x7F)) {
            ch = " ";
        } else {
            ch.assign(name, i, len);
        }
        if (out.size() + ch.size() > 255) break;
        out += ch;
        i += len;
    }
    return out.empty() ? std::string("label") : out;
}

}  // namespace

CupsPrintSurface::CupsPrintSurface() : CupsPrintSurface(std::string(cupsServer())) {}

CupsPrintSurface::CupsPrintSurface(std::string server) : m_server(std::move(server)) {}

CupsPrintSurface::~CupsPrintSurface() = default;

std::vector<PrinterInfo> CupsPrintSurface::printers() {
    std::vector<PrinterInfo> out;
    auto http = connectTo(m_server);
    if (!http) return out;
    cups_dest_t* dests = nullptr;
    const int count = cupsGetDests2(http->get(), &dests);
    for (int i = 0; i < count; ++i) {
        const cups_dest_t& d = dests[i];
        // Instances are the user's option sets, not queues of the server.
        if (d.instance != nullptr || d.name == nullptr) continue;
        const char* info = cupsGetOption("printer-info", d.num_options, d.options);
        out.push_back(PrinterInfo{d.name, info != nullptr ? info : ""});
    }
    cupsFreeDests(count, dests);
    return out;
}

void CupsPrintSurface::select(const PrinterInfo& printer) {
    m_current = printer;
    m_currentKnown = true;
    m_currentError.clear();
    m_copies = 1;
    m_quality = 0;
}

std::optional<PrinterInfo> CupsPrintSurface::current() const {
    if (m_currentKnown) return m_current;
    // The server's own default, asked again until it answers.
    auto http = connectTo(m_server);
    if (!http) {
        m_currentError = http.error().message;
        return std::nullopt;
    }
    ipp_t* request = ippNewRequest(IPP_OP_CUPS_GET_DEFAULT);
    static const char* const wanted[] = {"printer-name", "printer-info"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 2, nullptr,
                  wanted);
    Ipp response(cupsDoRequest(http->get(), request, "/"));
    if (!response || cupsLastError() > IPP_STATUS_OK_CONFLICTING) {
        m_currentError = serverError("no default printer").message;
        return std::nullopt;
    }
    ipp_attribute_t* name = ippFindAttribute(response.get(), "printer-name", IPP_TAG_NAME);
    if (name == nullptr) {
        m_currentError = "the print server names no default printer";
        return std::nullopt;
    }
    ipp_attribute_t* info = ippFindAttribute(response.get(), "printer-info", IPP_TAG_TEXT);
    const char* infoText = info != nullptr ? ippGetString(info, 0, nullptr) : nullptr;
    m_current = PrinterInfo{ippGetString(name, 0, nullptr), infoText != nullptr ? infoText : ""};
    m_currentKnown = true;
    m_currentError.clear();
    return m_current;
}

void CupsPrintSurface::setCopies(std::int16_t copies) { m_copies = copies; }

void CupsPrintSurface::setUnit(Unit unit) { m_unit = unit; }

void CupsPrintSurface::setPrintQuality(int dpi) { m_quality = dpi > 0 ? dpi : 0; }

PrintDocument& CupsPrintSurface::document() {
    if (m_doc) return *m_doc;
    m_docError.clear();
    m_docErrorKind = ErrorKind::PrintServer;
    m_originX = m_originY = 0.0;
    m_docMedia.clear();
    m_docRoute.clear();
    DocumentRoute route;
    LabelPage page;  // laid out blind when the printer cannot be asked; never submitted then
    if (m_quality > 0) page.dpi = m_quality;
    const auto printer = current();
    if (!printer) {
        m_docError = m_currentError.empty() ? "no printer selected" : m_currentError;
    } else {
        auto setup = pageSetupOf(m_server, printer->queue, m_quality, m_rasterDocuments);
        if (!setup) {
            m_docError = setup.error().message;
            m_docErrorKind = setup.error().kind;
        } else {
            page = setup->page;
            m_originX = std::floor(setup->leftPt * page.dpi / 72.0 + 0.5);
            m_originY = std::floor(setup->topPt * page.dpi / 72.0 + 0.5);
            m_docMedia = setup->media;
            route = std::move(setup->route);
        }
    }
    m_page = page;
    m_docRoute = route.reason;
    m_doc = makePrintDocument(route, page);
    return *m_doc;
}

double CupsPrintSurface::scale() const {
    return m_unit == Unit::Inch ? static_cast<double>(m_page.dpi) : 1.0;
}

void CupsPrintSurface::plot(float x, float y, ColorValue color) {
    PrintDocument& doc = document();
    const double s = scale();
    const double dx = std::floor(double(x) * s);
    const double dy = std::floor(double(y) * s);
    // Off the printable area to the left or top: clipped, not moved into the margin.
    if (!(dx >= 0.0 && dy >= 0.0)) return;
    doc.plot(dx + m_originX, dy + m_originY, color);
}

void CupsPrintSurface::plotRow(std::int64_t x0, float y, const ColorValue* colours,
                               std::size_t count) {
    if (m_unit != Unit::Pixel) {
        PrintSurface::plotRow(x0, y, colours, count);
        return;
    }
    PrintDocument& doc = document();
    const double dy = std::floor(double(y));
    // Off the printable area to the left or top: clipped, as plot() clips.
    if (!(dy >= 0.0) || count == 0) return;
    const std::size_t skip =
        x0 >= 0 ? 0 : std::size_t(std::min<std::uint64_t>(std::uint64_t(-(x0 + 1)) + 1, count));
    if (skip == count) return;
    doc.plotRow(x0 + std::int64_t(skip) + std::int64_t(m_originX), std::int64_t(dy + m_originY),
                colours + skip, count - skip);
}

void CupsPrintSurface::drawPicture(const PictureView& picture, double x, double y, double width,
                                   double height) {
    PrintDocument& doc = document();
    const double s = scale();
    doc.drawPicture(picture, x * s + m_originX, y * s + m_originY, width * s, height * s);
}

void CupsPrintSurface::abortDocument() {
    m_doc.reset();
    m_docError.clear();
}

Result<std::string> CupsPrintSurface::endDocument(const std::string& jobName) {
    using Clock = std::chrono::steady_clock;
    m_figures = SubmissionFigures{};
    // Whatever happens below, the next drawing opens a new document.
    struct Closer {
        CupsPrintSurface* s;
        ~Closer() { s->abortDocument(); }
    } closer{this};

    if (m_copies < 1) {
        return makeError(ErrorKind::Invalid,
                         "copy count " + std::to_string(m_copies) + " is below 1: nothing printed");
    }
    // A job without drawing is a blank page of the current printer.
    PrintDocument& doc = document();
    if (!m_docError.empty()) return makeError(m_docErrorKind, m_docError);
    const auto printer = current();
    if (!printer) return makeError(ErrorKind::PrintServer, m_currentError);

    const auto t0 = Clock::now();
    try {
        doc.finish();
    } catch (const std::exception& e) {
        return makeError(ErrorKind::Io,
                         std::string("cannot build the print document: ") + e.what());
    }
    const auto t1 = Clock::now();
    m_figures.buildSeconds = std::chrono::duration<double>(t1 - t0).count();
    m_figures.format = doc.format();
    m_figures.route = m_docRoute;

    auto http = connectTo(m_server);
    if (!http) return http.error();
    http_t* h = http->get();
    auto d = findDestination(h, printer->queue);
    if (!d) return d.error();
    cups_dest_t* dest = d->dest.get();
    cups_dinfo_t* info = d->info.get();

    const int dpi = m_page.dpi;
    Options options;
    options.add("copies", std::to_string(m_copies));
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

    int jobId = 0;
    const std::string title = ippJobName(jobName);
    if (cupsCreateDestJob(h, dest, info, &jobId, title.c_str(), options.count(), options.get()) >
            IPP_STATUS_OK_CONFLICTING ||
        jobId <= 0) {
        return serverError("print queue \"" + printer->queue + "\" refused the job");
    }
    auto fail = [&](const std::string& what) -> Error {
        Error e = serverError(what);
        cupsCancelDestJob(h, dest, jobId);
        return e;
    };
    if (cupsStartDestDocument(h, dest, info, jobId, title.c_str(), doc.format().c_str(), 0, nullptr,
                              1) != HTTP_STATUS_CONTINUE) {
        return fail("cannot send the document to \"" + printer->queue + "\"");
    }
    constexpr std::size_t kChunk = 256 * 1024;
    // A raster is compressed while it is sent: running out of memory can happen here too.
    std::string why;
    bool sent = false;
    try {
        sent = doc.writeTo(m_copies, [&](const char* data, std::size_t size) {
            for (std::size_t off = 0; off < size; off += kChunk) {
                const std::size_t n = std::min(kChunk, size - off);
                if (cupsWriteRequestData(h, data + off, n) != HTTP_STATUS_CONTINUE) return false;
            }
            m_figures.documentBytes += size;
            return true;
        });
    } catch (const std::exception& e) {
        why = std::string(": ") + e.what();
    }
    if (!sent) {
        cupsFinishDestDocument(h, dest, info);
        return fail("sending the document to \"" + printer->queue + "\" failed" + why);
    }
    if (cupsFinishDestDocument(h, dest, info) > IPP_STATUS_OK_CONFLICTING) {
        return fail("print queue \"" + printer->queue + "\" did not take the document");
    }
    m_figures.submitSeconds = std::chrono::duration<double>(Clock::now() - t1).count();
    return printer->queue + "-" + std::to_string(jobId);
}

}  // namespace plx
