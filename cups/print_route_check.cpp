#include "cups/print_route_check.h"

#include <cups/cups.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <sstream>

namespace plx {

// Follows the format the print surface sends (CUPS_FORMAT_PDF) and what that format needs.
const std::vector<RouteNeed> kStationRoute = {
    {RouteNeedKind::QueueAcceptsFormat, "application/pdf",
     PLX_TR("Station", "the station sends each label as a PDF document")},
    {RouteNeedKind::Filter, "pdftopdf",
     PLX_TR("Station", "it hands the PDF on to the renderer; install cups-filters")},
    {RouteNeedKind::Filter, "gstoraster",
     PLX_TR("Station", "it renders the PDF dot for dot with Ghostscript; install cups-filters")},
    {RouteNeedKind::Program, "gs",
     PLX_TR("Station", "Ghostscript, which gstoraster runs; install ghostscript")},
    {RouteNeedKind::ConversionBy, "gstoraster",
     PLX_TR("Station", "other renderers, such as poppler's pdftoraster, smooth the label's dots"),
     "application/vnd.cups-pdf", "application/vnd.cups-raster"},
    {RouteNeedKind::ConversionBy, "gstoraster",
     PLX_TR("Station", "other renderers, such as poppler's pdftoraster, smooth the label's dots"),
     "application/vnd.cups-pdf", "image/pwg-raster"},
};

std::vector<RouteNeed> rasterRouteNeeds(const RasterInput& input) {
    std::vector<RouteNeed> needs = {
        {RouteNeedKind::QueueAcceptsFormat, input.format,
         PLX_TR("Station", "the station sends each label as the raster the queue's driver takes")}};
    if (input.program != "-")
        needs.push_back({RouteNeedKind::Filter, input.program,
                         PLX_TR("Station",
                                "the queue's driver makes the printer's data with it; "
                                "reinstall the driver")});
    return needs;
}

namespace {

namespace fs = std::filesystem;

bool isExecutable(const std::string& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec) && ::access(path.c_str(), X_OK) == 0;
}

std::string str(std::string_view v) { return std::string(v); }

}  // namespace

std::string cheapestConversion(const RoutePlaces& places, std::string_view from,
                               std::string_view to) {
    std::string best;
    int bestCost = std::numeric_limits<int>::max();
    for (const std::string& dir : places.mimeDirs) {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(dir, ec)) {
            if (entry.path().extension() != ".convs") continue;
            std::ifstream in(entry.path());
            std::string line;
            while (std::getline(in, line)) {
                // "source destination cost filter"; '#' starts a comment.
                std::istringstream fields(line.substr(0, line.find('#')));
                std::string src, dst, filter;
                int cost = 0;
                if (!(fields >> src >> dst >> cost >> filter)) continue;
                if (src != from || dst != to) continue;
                // CUPS leaves out a rule whose filter is not installed.
                if (filter != "-" && !isExecutable(places.filterDir + "/" + filter)) continue;
                if (cost < bestCost) {
                    bestCost = cost;
                    best = filter;
                }
            }
        }
    }
    return best;
}

RouteReport checkRoute(std::span<const RouteNeed> needs, const RoutePlaces& places, bool local,
                       const std::string& queue,
                       const std::optional<std::vector<std::string>>& queueFormats) {
    RouteReport r;
    for (const RouteNeed& need : needs) {
        const Message why(need.why);
        const std::string value = str(need.value);
        switch (need.kind) {
            case RouteNeedKind::QueueAcceptsFormat: {
                if (!queueFormats) break;
                bool found = false;
                for (const std::string& f : *queueFormats) found = found || f == value;
                if (found)
                    r.checked.push_back(
                        std::string("queue \"").append(queue).append("\" accepts ").append(value));
                else
                    r.problems.push_back(Message(
                        PLX_TR("Station", "print route: queue \"%1\" does not accept %2 (%3)"),
                        {queue, value, why}));
                break;
            }
            case RouteNeedKind::Filter:
                if (!local) break;
                // A driver may name its filter by its full path.
                if (isExecutable(value.starts_with('/') ? value : places.filterDir + "/" + value))
                    r.checked.push_back("filter " + value);
                else
                    r.problems.push_back(
                        Message(PLX_TR("Station", "print route: filter %1 is missing from %2 (%3)"),
                                {value, places.filterDir, why}));
                break;
            case RouteNeedKind::Program: {
                if (!local) break;
                bool found = false;
                for (const std::string& dir : places.programDirs)
                    found = found || isExecutable(std::string(dir).append("/").append(value));
                if (found)
                    r.checked.push_back("program " + value);
                else
                    r.problems.push_back(
                        Message(PLX_TR("Station", "print route: program %1 is not installed (%2)"),
                                {value, why}));
                break;
            }
            case RouteNeedKind::ConversionBy: {
                if (!local) break;
                const std::string by = cheapestConversion(places, need.from, need.to);
                if (by == value)
                    r.checked.push_back(str(need.from) + " to " + str(need.to) + " by " + value);
                else if (by.empty())
                    r.problems.push_back(Message(
                        PLX_TR("Station",
                               "print route: the print server cannot convert %1 to %2 (%3)"),
                        {str(need.from), str(need.to), why}));
                else
                    r.problems.push_back(
                        Message(PLX_TR("Station",
                                       "print route: the print server converts %1 to %2 with %3, "
                                       "not %4 (%5)"),
                                {str(need.from), str(need.to), by, value, why}));
                break;
            }
        }
    }
    return r;
}

bool printServerIsLocal(std::string_view server) {
    return server.empty() || server[0] == '/' || server == "localhost" ||
           server.rfind("localhost:", 0) == 0 || server.rfind("127.", 0) == 0 || server == "::1" ||
           server == "[::1]";
}

Result<QueueDocuments> queueDocuments(const std::string& queue) {
    const auto serverError = [&](const std::string& what) {
        const char* cups = cupsLastErrorString();
        return makeError(ErrorKind::PrintServer,
                         what + (cups != nullptr && *cups != '\0' ? std::string(": ") + cups : ""));
    };
    std::unique_ptr<http_t, decltype(&httpClose)> http(
        httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, 10000,
                     nullptr),
        &httpClose);
    if (!http) return serverError(std::string("cannot reach the print server ") + cupsServer());
    // Start-up must not hang on a server that accepts but never answers.
    httpSetTimeout(http.get(), 30.0, nullptr, nullptr);
    std::unique_ptr<cups_dest_t, void (*)(cups_dest_t*)> dest(
        cupsGetNamedDest(http.get(), queue.c_str(), nullptr),
        [](cups_dest_t* d) { cupsFreeDests(1, d); });
    if (!dest) return serverError("print queue \"" + queue + "\" not found");
    std::unique_ptr<cups_dinfo_t, decltype(&cupsFreeDestInfo)> info(
        cupsCopyDestInfo(http.get(), dest.get()), &cupsFreeDestInfo);
    if (!info) return serverError("cannot read the capabilities of \"" + queue + "\"");
    QueueDocuments q;
    ipp_attribute_t* attr =
        cupsFindDestSupported(http.get(), dest.get(), info.get(), "document-format");
    for (int i = 0; attr != nullptr && i < ippGetCount(attr); ++i)
        if (const char* f = ippGetString(attr, i, nullptr)) q.formats.emplace_back(f);
    q.raster = queueRasterInput(http.get(), queue, &q.whyNotRaster);
    return q;
}

std::vector<RouteFinding> checkStationRoute(const std::string& server, const std::string& queue) {
    std::vector<RouteFinding> out;
    auto report = [&out](Severity severity, Message text) {
        out.push_back({severity, std::move(text)});
    };
    std::optional<std::vector<std::string>> formats;
    std::optional<RasterInput> raster;
    if (queue.empty()) {
        report(Severity::Warning,
               PLX_TR("Station", "print route not checked: the print server names no queue"));
    } else if (auto q = queueDocuments(queue)) {
        formats = q->formats;
        raster = q->raster;
        if (raster)
            report(Severity::Info, Message(PLX_TR("Station",
                                                  "print route: queue \"%1\" "
                                                  "gets the labels as %2"),
                                           {queue, raster->why}));
        else
            report(Severity::Info, Message(PLX_TR("Station",
                                                  "print route: queue \"%1\" gets the labels as "
                                                  "PDF: its driver %2"),
                                           {queue, q->whyNotRaster}));
    } else {
        report(Severity::Warning,
               Message(PLX_TR("Station", "print route not checked: %1"), {q.error().message}));
    }
    const bool local = printServerIsLocal(server);
    RouteReport r;
    if (raster) {
        r = checkRoute(rasterRouteNeeds(*raster), RoutePlaces{}, local, queue, formats);
        // The PDF only carries labels whose page the driver cannot make: a gap there is not
        // an error for every label.
        const RouteReport pdf = checkRoute(kStationRoute, RoutePlaces{}, local, queue, formats);
        for (const Message& problem : pdf.problems)
            report(Severity::Warning,
                   Message(PLX_TR("Station",
                                  "%1; only labels the queue's driver cannot take "
                                  "as raster go that way"),
                           {problem}));
    } else {
        r = checkRoute(kStationRoute, RoutePlaces{}, local, queue, formats);
    }
    for (const Message& problem : r.problems) report(Severity::Error, problem);
    if (!local)
        report(Severity::Notice, Message(PLX_TR("Station",
                                                "print route: the print server %1 is not on this "
                                                "machine; its filters are not checked from here"),
                                         {server}));
    if (r.problems.empty() && !r.checked.empty()) {
        std::string found;
        for (const std::string& c : r.checked) found += (found.empty() ? "" : ", ") + c;
        report(Severity::Info, Message(PLX_TR("Station", "print route checked: %1"), {found}));
    }
    return out;
}

}  // namespace plx
