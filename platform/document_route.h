#pragma once
// Which document a queue gets, and the document itself.
//
// The print server turns whatever it receives into the printer's raster with a chain of
// filters it picks by cost; a PDF goes through a rasteriser chosen that way (Ghostscript
// today, poppler smooths pictures). When the queue's driver takes raster itself, the station
// writes that raster and sends it in the driver's own input format: no filter is left to
// choose, and every dot is the station's. Other queues (no driver, a driver that wants
// another colour space or depth, or a queue whose raster input a cheaper PDF path could
// overtake) keep the PDF.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/color.h"
#include "platform/label_document.h"
#include "printing/print_surface.h"

// libcups' own name, declared here so that users need not include libcups.
// NOLINTBEGIN(bugprone-reserved-identifier,readability-identifier-naming)
typedef struct _http_s http_t;
// NOLINTEND(bugprone-reserved-identifier,readability-identifier-naming)

namespace plx {

// One "*cupsFilter2" (or old "*cupsFilter") line of a driver description (PPD): the driver
// takes `source`, runs `program` ("-" for none) and hands `destination` to the printer.
struct DriverFilter {
    std::string source;
    std::string destination;  // "printer" for old-style lines
    int cost = 0;
    std::string program;
    bool operator==(const DriverFilter&) const = default;
};

// The filter lines of a PPD: its cupsFilter2 lines, or its cupsFilter lines when it has none
// (the print server reads them the same way).
std::vector<DriverFilter> driverFilters(std::string_view ppd);

enum class RasterKind { Pwg, Cups };

// The raster input a driver takes with no conversion before it, or nothing. Fixed means that
// no other path can win: every path from this input ends in one of the driver's lines, and
// this line costs no more than any other, so a detour through a converter never costs less.
struct RasterInput {
    std::string format;  // document format to send: the line's source type
    RasterKind kind = RasterKind::Cups;
    std::string program;  // the driver's filter for it, "-" for none
    std::string why;
};
std::optional<RasterInput> fixedRasterInput(const std::vector<DriverFilter>& filters,
                                            std::string* whyNot = nullptr);

// What the chosen document is and how to write it.
struct DocumentRoute {
    bool raster = false;
    std::string format = "application/pdf";
    // Raster only: the raster's size and first dot (in page dots from the page's top-left),
    // copies as repeated pages (the driver makes none), and the stream's sync word and page
    // header as libcups writes them.
    int width = 0;
    int height = 0;
    int left = 0;
    int top = 0;
    bool manualCopies = false;
    std::string syncWord;
    std::string pageHeader;
    std::string reason;  // why this route, for the log
};

// The route for `queue`, asked over `http`: its PPD is read and, when its driver takes raster
// with a fixed route, the page header is made from it: the driver's defaults with the page
// size and resolution of `page` (the header gstoraster would give that driver). `media` is
// the job's media name (may be empty), for the PWG header.
DocumentRoute routeForQueue(http_t* http, const std::string& queue, const LabelPage& page,
                            const std::string& media);

// The route for a queue whose PPD is `ppd` (its text; empty: it has none), as above.
DocumentRoute routeForPpd(const std::string& ppd, const std::string& queue, const LabelPage& page,
                          const std::string& media);

// A queue's PPD at `resource` ("/printers/QUEUE.ppd"), asked over `http` only if it changed
// since `modified` (its Last-Modified time, 0 when none is known): one conditional GET on that
// connection, so its wait callback runs while the server is slow. Fetched: `text` and
// `modified` are the new ones. None: the server has none there (a raw queue, a class).
// `serverNow`, if given, gets the server's clock as it answered (0 when it gave none).
enum class PpdFetch { Fetched, NotModified, None, Failed };
PpdFetch fetchPpdText(http_t* http, const std::string& resource, time_t& modified,
                      std::string& text, time_t* serverNow = nullptr);
// The same through libcups, which finds the PPD of a class's member (two requests, and on a
// connection of its own where the server is not reached by host and port).
PpdFetch fetchMemberPpd(http_t* http, const std::string& queue, time_t& modified,
                        std::string& text);

// The raster input of the driver of `queue`, asked over `http`, whatever the page; nothing
// (and why not) when the queue keeps the PDF.
std::optional<RasterInput> queueRasterInput(http_t* http, const std::string& queue,
                                            std::string* whyNot);

// A PWG raster route for a page of that size (for tools and tests: what a driverless or
// generic PWG printer gets).
DocumentRoute pwgRoute(const LabelPage& page, bool manualCopies);

// The document a job is drawn into, in page dots from the page's top-left.
class PrintDocument {
  public:
    using Sink = std::function<bool(const char* data, std::size_t size)>;

    virtual ~PrintDocument() = default;
    virtual void plot(double x, double y, ColorValue color) = 0;
    // colours[i] at (x0 + i, y); entries with a top byte set plot nothing.
    virtual void plotRow(std::int64_t x0, std::int64_t y, const ColorValue* colours,
                         std::size_t count) = 0;
    // `pace` is asked between rows; once it says stop, the rest is left undrawn.
    virtual void drawPicture(const PictureView& picture, double x, double y, double width,
                             double height, const KeepGoing& pace) = 0;
    // Nothing landed on the page (dots and pictures off the page do not count).
    virtual bool empty() const = 0;
    // Ends the drawing: a PDF is laid out and compressed here, a raster is compressed while
    // it is written. False when `pace` said stop on the way. May throw (std::bad_alloc,
    // std::runtime_error from zlib).
    virtual bool finish(const KeepGoing& pace) = 0;
    // The finished document of a job of `copies` copies, in pieces; false once `sink` fails.
    virtual bool writeTo(int copies, const Sink& sink) const = 0;
    // The copies are pages of the document itself: the print server must be asked for one,
    // or a backend handed the file would send it that many times more.
    virtual bool holdsCopies() const { return false; }
    const std::string& format() const { return m_format; }

  protected:
    explicit PrintDocument(std::string format) : m_format(std::move(format)) {}

  private:
    std::string m_format;
};

std::unique_ptr<PrintDocument> makePrintDocument(const DocumentRoute& route, const LabelPage& page);

}  // namespace plx
