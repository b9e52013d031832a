#include "cups/document_route.h"

#include <cups/cups.h>
#include <cups/ppd.h>
#include <cups/raster.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace plx {

namespace {

constexpr std::string_view kCupsRaster = "application/vnd.cups-raster";
constexpr std::string_view kPwgRaster = "image/pwg-raster";

std::vector<std::string> words(std::string_view text) {
    std::vector<std::string> out;
    std::istringstream in{std::string(text)};
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

// The quoted value of a "*Keyword: "value"" line, or nothing.
std::optional<std::string_view> quotedValue(std::string_view line, std::string_view keyword) {
    if (line.substr(0, keyword.size()) != keyword) return std::nullopt;
    const auto open = line.find('"', keyword.size());
    const auto close = open == std::string_view::npos ? open : line.find('"', open + 1);
    if (close == std::string_view::npos) return std::nullopt;
    return line.substr(open + 1, close - open - 1);
}

std::optional<int> cost(const std::string& text) {
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (end == text.c_str() || *end != '\0' || v < 0 || v > INT_MAX) return std::nullopt;
    return int(v);
}

DocumentRoute pdfRoute(std::string reason) {
    DocumentRoute r;
    r.reason = std::move(reason);
    return r;
}

// The sync word and one page header exactly as libcups writes them for this mode.
bool headerBytes(cups_page_header2_t& header, cups_mode_t mode, DocumentRoute& route) {
    std::string bytes;
    auto io = [](void* ctx, unsigned char* data, size_t size) -> ssize_t {
        static_cast<std::string*>(ctx)->append(reinterpret_cast<const char*>(data), size);
        return ssize_t(size);
    };
    cups_raster_t* r = cupsRasterOpenIO(io, &bytes, mode);
    if (r == nullptr) return false;
    const bool ok = cupsRasterWriteHeader2(r, &header) != 0;
    cupsRasterClose(r);
    if (!ok || bytes.size() <= 4) return false;
    route.syncWord = bytes.substr(0, 4);
    route.pageHeader = bytes.substr(4);
    return true;
}

std::string readFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The PPD API is deprecated in CUPS 2 but remains the only description of a queue's driver
// and the only way to get the page header its rasteriser would make.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

struct PpdFile {
    char path[1024] = "";
    ppd_file_t* ppd = nullptr;
    ~PpdFile() {
        if (ppd != nullptr) ppdClose(ppd);
        if (path[0] != '\0') ::unlink(path);
    }
};

// Marks the page size and resolution the station lays out for on top of the PPD's defaults,
// by the PPD's own names. (cupsMarkOptions would map IPP names, but builds a cache that
// CUPS 2.4 leaks a few strings of.) False when the PPD has no size of that page.
bool markPage(ppd_file_t* ppd, const LabelPage& page) {
    auto fits = [&](const ppd_size_t* s) {
        return s != nullptr && std::fabs(double(s->width) - page.widthPt) < 0.5 &&
               std::fabs(double(s->length) - page.heightPt) < 0.5;
    };
    const ppd_size_t* size = ppdPageSize(ppd, nullptr);  // the default, if it is that size
    for (int i = 0; !fits(size) && i < ppd->num_sizes; ++i) size = &ppd->sizes[i];
    if (!fits(size)) return false;
    ppdMarkOption(ppd, "PageSize", size->name);
    const std::string dpi = std::to_string(page.dpi) + "dpi";
    ppdMarkOption(ppd, "Resolution", dpi.c_str());
    return true;
}

DocumentRoute routeFromPpd(PpdFile& file, const std::string& queue, const LabelPage& page,
                           const std::string& media) {
    std::string whyNot;
    const auto input = fixedRasterInput(driverFilters(readFile(file.path)), &whyNot);
    if (!input) return pdfRoute("PDF: the driver of \"" + queue + "\" " + whyNot);

    file.ppd = ppdOpenFile(file.path);
    if (file.ppd == nullptr) return pdfRoute("PDF: the PPD of \"" + queue + "\" does not open");
    ppdMarkDefaults(file.ppd);
    if (!markPage(file.ppd, page))
        return pdfRoute("PDF: the PPD of \"" + queue + "\" has no page of the laid-out size");
    cups_page_header2_t h{};
    if (cupsRasterInterpretPPD(&h, file.ppd, 0, nullptr, nullptr) != 0)
        return pdfRoute("PDF: no page header from the PPD of \"" + queue + "\"");

    // Exact colours need 8-bit RGB pixels, chunky, at the resolution the page was laid out for.
    const int dpi = page.dpi;
    if ((h.cupsColorSpace != CUPS_CSPACE_RGB && h.cupsColorSpace != CUPS_CSPACE_SRGB) ||
        h.cupsBitsPerColor != 8 || h.cupsBitsPerPixel != 24 ||
        h.cupsColorOrder != CUPS_ORDER_CHUNKED) {
        return pdfRoute("PDF: the driver of \"" + queue + "\" wants colour space " +
                        std::to_string(h.cupsColorSpace) + " at " +
                        std::to_string(h.cupsBitsPerColor) + " bits, not 8-bit RGB");
    }
    if (int(h.HWResolution[0]) != dpi || int(h.HWResolution[1]) != dpi) {
        return pdfRoute("PDF: the driver of \"" + queue + "\" makes " +
                        std::to_string(h.HWResolution[0]) + "x" +
                        std::to_string(h.HWResolution[1]) + " dpi, not " + std::to_string(dpi));
    }

    DocumentRoute route;
    route.raster = true;
    route.format = input->format;
    route.manualCopies = file.ppd->manual_copies != 0;
    route.reason = input->why;
    cups_mode_t mode = CUPS_RASTER_WRITE_COMPRESSED;
    if (input->kind == RasterKind::Pwg) {
        // A PWG printer gets the whole page; the header is PWG's own.
        pwg_media_t* m = media.empty() ? nullptr : pwgMediaForPWG(media.c_str());
        if (m == nullptr)
            m = pwgMediaForSize(int(std::lround(page.widthPt * 2540.0 / 72.0)),
                                int(std::lround(page.heightPt * 2540.0 / 72.0)));
        const char* type = h.cupsColorSpace == CUPS_CSPACE_SRGB ? "srgb_8" : "rgb_8";
        if (m == nullptr || !cupsRasterInitPWGHeader(&h, m, type, dpi, dpi, "one-sided", nullptr))
            return pdfRoute("PDF: no PWG page header for \"" + queue + "\"");
        mode = CUPS_RASTER_WRITE_PWG;
    } else {
        // The raster covers the driver's imaging box, counted from the page's top edge.
        route.left = int(std::lround(double(h.cupsImagingBBox[0]) * double(dpi) / 72.0));
        route.top = int(std::lround((double(h.cupsPageSize[1]) - double(h.cupsImagingBBox[3])) *
                                    double(dpi) / 72.0));
    }
    route.width = int(h.cupsWidth);
    route.height = int(h.cupsHeight);
    // A PWG page is the whole sheet: it must be exactly the page the dots were placed on.
    if (input->kind == RasterKind::Pwg &&
        (route.width != page.widthDots() || route.height != page.heightDots()))
        return pdfRoute("PDF: the PWG page for \"" + queue + "\" is not the laid-out page");
    if (route.width <= 0 || route.height <= 0 || route.left < 0 || route.top < 0 ||
        route.left + route.width > page.widthDots() || route.top + route.height > page.heightDots())
        return pdfRoute("PDF: the driver's raster for \"" + queue + "\" is not on the page");
    if (!headerBytes(h, mode, route))
        return pdfRoute("PDF: libcups wrote no page header for \"" + queue + "\"");
    return route;
}

// The queue's PPD into a temporary file; false when it has none (a raw queue).
bool fetchPpd(http_t* http, const std::string& queue, PpdFile& file) {
    time_t modified = 0;
    return cupsGetPPD3(http, queue.c_str(), &modified, file.path, sizeof file.path) ==
           HTTP_STATUS_OK;
}

// A PPD's text into a temporary file, for the PPD functions that read files.
bool writePpd(const std::string& text, PpdFile& file) {
    const int fd = cupsTempFd(file.path, sizeof file.path);
    if (fd < 0) return false;
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) break;
        done += std::size_t(n);
    }
    ::close(fd);
    return done == text.size();
}

#pragma GCC diagnostic pop

}  // namespace

std::vector<DriverFilter> driverFilters(std::string_view ppd) {
    std::vector<DriverFilter> v2, v1;
    std::size_t pos = 0;
    while (pos < ppd.size()) {
        auto end = ppd.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) end = ppd.size();
        const std::string_view line = ppd.substr(pos, end - pos);
        pos = end + 1;
        if (auto value = quotedValue(line, "*cupsFilter2:")) {
            const auto w = words(*value);
            const auto c = w.size() >= 4 ? cost(w[2]) : std::nullopt;
            if (c) v2.push_back({w[0], w[1], *c, w[3]});
        } else if (auto old = quotedValue(line, "*cupsFilter:")) {
            const auto w = words(*old);
            const auto c = w.size() >= 3 ? cost(w[1]) : std::nullopt;
            if (c) v1.push_back({w[0], "printer", *c, w[2]});
        }
    }
    return v2.empty() ? v1 : v2;
}

std::optional<RasterInput> fixedRasterInput(const std::vector<DriverFilter>& filters,
                                            std::string* whyNot) {
    auto fail = [&](std::string why) -> std::optional<RasterInput> {
        if (whyNot != nullptr) *whyNot = std::move(why);
        return std::nullopt;
    };
    if (filters.empty()) return fail("has no filter lines");
    const DriverFilter* best = nullptr;
    for (const DriverFilter& f : filters) {
        if (f.source != kCupsRaster && f.source != kPwgRaster) continue;
        // Straight to a device that wants some other raster (e.g. Apple's): not ours to write.
        if (f.program == "-" && f.destination != kPwgRaster && f.destination != kCupsRaster &&
            f.destination != "printer")
            continue;
        if (best == nullptr || f.cost < best->cost) best = &f;
    }
    if (best == nullptr) return fail("takes no PWG or CUPS raster");
    for (const DriverFilter& f : filters) {
        if (&f != best && f.cost < best->cost)
            return fail("takes " + best->source + " at cost " + std::to_string(best->cost) +
                        ", but " + f.source + " costs " + std::to_string(f.cost) +
                        ": a conversion to it could be chosen instead");
    }
    RasterInput in;
    in.format = best->source;
    const bool pwg =
        best->source == kPwgRaster || (best->program == "-" && best->destination == kPwgRaster);
    in.kind = pwg ? RasterKind::Pwg : RasterKind::Cups;
    in.program = best->program;
    in.why = std::string(pwg ? "PWG" : "CUPS") + " raster as " + best->source + " to " +
             (best->program == "-" ? std::string("the printer directly")
                                   : "the driver's filter " + best->program);
    return in;
}

std::optional<RasterInput> queueRasterInput(http_t* http, const std::string& queue,
                                            std::string* whyNot) {
    PpdFile file;
    if (!fetchPpd(http, queue, file)) {
        if (whyNot != nullptr) *whyNot = "has no driver description";
        return std::nullopt;
    }
    return fixedRasterInput(driverFilters(readFile(file.path)), whyNot);
}

DocumentRoute routeForQueue(http_t* http, const std::string& queue, const LabelPage& page,
                            const std::string& media) {
    PpdFile file;
    if (!fetchPpd(http, queue, file))
        return pdfRoute("PDF: \"" + queue + "\" has no driver description");
    return routeFromPpd(file, queue, page, media);
}

DocumentRoute routeForPpd(const std::string& ppd, const std::string& queue, const LabelPage& page,
                          const std::string& media) {
    if (ppd.empty()) return pdfRoute("PDF: \"" + queue + "\" has no driver description");
    PpdFile file;
    if (!writePpd(ppd, file))
        return pdfRoute("PDF: the PPD of \"" + queue + "\" cannot be read here");
    return routeFromPpd(file, queue, page, media);
}

PpdFetch fetchPpdText(http_t* http, const std::string& resource, time_t& modified,
                      std::string& text, time_t* serverNow) {
    httpClearFields(http);
    if (modified > 0) httpSetField(http, HTTP_FIELD_IF_MODIFIED_SINCE, httpGetDateString(modified));
    if (httpGet(http, resource.c_str()) != 0) return PpdFetch::Failed;
    http_status_t status = HTTP_STATUS_CONTINUE;
    while ((status = httpUpdate(http)) == HTTP_STATUS_CONTINUE) {
    }
    if (serverNow != nullptr) *serverNow = httpGetDateTime(httpGetField(http, HTTP_FIELD_DATE));
    if (status == HTTP_STATUS_NOT_MODIFIED) {
        httpFlush(http);
        return PpdFetch::NotModified;
    }
    if (status != HTTP_STATUS_OK) {
        httpFlush(http);
        return status == HTTP_STATUS_NOT_FOUND ? PpdFetch::None : PpdFetch::Failed;
    }
    const time_t stamp = httpGetDateTime(httpGetField(http, HTTP_FIELD_LAST_MODIFIED));
    const off_t length = httpGetLength2(http);
    std::string body;
    char buf[32768];
    for (;;) {
        const ssize_t n = httpRead2(http, buf, sizeof buf);
        if (n < 0) return PpdFetch::Failed;
        if (n == 0) break;
        body.append(buf, std::size_t(n));
    }
    // A body cut short by a lost connection is no PPD.
    if (length >= 0 && length < INT_MAX && off_t(body.size()) != length) return PpdFetch::Failed;
    text = std::move(body);
    modified = stamp;
    return PpdFetch::Fetched;
}

PpdFetch fetchMemberPpd(http_t* http, const std::string& queue, time_t& modified,
                        std::string& text) {
    PpdFile file;
    time_t stamp = modified;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    const http_status_t status =
        cupsGetPPD3(http, queue.c_str(), &stamp, file.path, sizeof file.path);
#pragma GCC diagnostic pop
    if (status == HTTP_STATUS_NOT_MODIFIED) return PpdFetch::NotModified;
    if (status == HTTP_STATUS_NOT_FOUND) return PpdFetch::None;
    if (status != HTTP_STATUS_OK) return PpdFetch::Failed;
    text = readFile(file.path);
    modified = stamp;
    return PpdFetch::Fetched;
}

DocumentRoute pwgRoute(const LabelPage& page, bool manualCopies) {
    cups_page_header2_t h{};
    pwg_media_t* m = pwgMediaForSize(int(std::lround(page.widthPt * 2540.0 / 72.0)),
                                     int(std::lround(page.heightPt * 2540.0 / 72.0)));
    DocumentRoute route;
    if (m == nullptr ||
        !cupsRasterInitPWGHeader(&h, m, "srgb_8", page.dpi, page.dpi, "one-sided", nullptr))
        return pdfRoute("PDF: no PWG page header for this page");
    route.raster = true;
    route.format = std::string(kCupsRaster);
    route.manualCopies = manualCopies;
    route.width = int(h.cupsWidth);
    route.height = int(h.cupsHeight);
    route.reason = "PWG raster";
    if (!headerBytes(h, CUPS_RASTER_WRITE_PWG, route)) return pdfRoute("PDF: no PWG header");
    return route;
}

}  // namespace plx
