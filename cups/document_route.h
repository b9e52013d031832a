#pragma once
// Which document a queue gets: the PDF, or the raster its driver takes (with its page header).
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

#include "document/label_document.h"
#include "document/print_document.h"

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

}  // namespace plx
