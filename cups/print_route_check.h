#pragma once
// What the station's documents need from the print server on their way to the printer, and the
// start-up check that it is all there. The needs are one table (kStationRoute) so that they can
// follow a change of the document format the print surface sends.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/message.h"
#include "common/result.h"
#include "cups/document_route.h"

namespace plx {

enum class RouteNeedKind {
    QueueAcceptsFormat,  // the station's queue lists `value` in document-format-supported
    Filter,              // the filter program `value` is in the server's filter folder
    Program,             // the program `value` (which a filter runs) is installed
    ConversionBy,        // the server converts `from` to `to` with filter `value`, no other
};

struct RouteNeed {
    RouteNeedKind kind;
    std::string_view value;
    const char* why;  // marked with PLX_TR: what the need is for, shown with a problem
    std::string_view from = {};
    std::string_view to = {};
};

// The route of the station's PDF: a PDF whose images are device dots. pdftopdf passes it on,
// Ghostscript's gstoraster renders it dot for dot; poppler's pdftoraster (which CUPS would
// pick when it is cheaper or gstoraster is missing) smooths images. Every queue whose driver
// does not take raster gets the PDF, and so does a label whose page the driver cannot make.
extern const std::vector<RouteNeed> kStationRoute;

// The route of the station's raster to a queue whose driver takes `input`: the queue accepts
// it and the driver's own filter, if any, is there. The needs point into `input`.
std::vector<RouteNeed> rasterRouteNeeds(const RasterInput& input);

// Where the server's pieces are on this machine (a print server on this machine only).
struct RoutePlaces {
    std::string filterDir = "/usr/lib/cups/filter";
    std::vector<std::string> mimeDirs = {"/usr/share/cups/mime", "/etc/cups"};
    std::vector<std::string> programDirs = {"/usr/bin", "/bin", "/usr/local/bin"};
};

// The filter CUPS picks for from -> to: the cheapest rule in the *.convs files of mimeDirs
// whose filter exists in filterDir; empty when there is none.
std::string cheapestConversion(const RoutePlaces& places, std::string_view from,
                               std::string_view to);

struct RouteReport {
    std::vector<Message> problems;     // each names what is missing and what it is for
    std::vector<std::string> checked;  // what was found in place, for the log
};

// Checks the needs. queueFormats: what the queue accepts (nothing: not asked, its needs are
// skipped); local: the server runs on this machine, so its filters can be looked at.
RouteReport checkRoute(std::span<const RouteNeed> needs, const RoutePlaces& places, bool local,
                       const std::string& queue,
                       const std::optional<std::vector<std::string>>& queueFormats);

// The print server (a socket path or host name) runs on this machine.
bool printServerIsLocal(std::string_view server);

// What the queue takes, asked of the print server libcups is pointed at.
struct QueueDocuments {
    std::vector<std::string> formats;   // document-format-supported
    std::optional<RasterInput> raster;  // its driver takes the station's raster
    std::string whyNotRaster;
};
Result<QueueDocuments> queueDocuments(const std::string& queue);

// What the start-up check found, in the order it is to be said.
struct RouteFinding {
    Severity severity = Severity::Info;
    Message text;
};

// Whether the print server `server` can take the station's documents to `queue` (empty: the
// server names none) unchanged: the document the queue gets, and the filters and programs on
// its way when the server runs on this machine.
std::vector<RouteFinding> checkStationRoute(const std::string& server, const std::string& queue);

}  // namespace plx
