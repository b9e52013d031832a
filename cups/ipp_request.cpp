#include "cups/ipp_request.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace plx::ipp {

Error serverError(const std::string& what) {
    const char* cups = cupsLastErrorString();
    std::string msg = what;
    if (cups != nullptr && *cups != '\0') msg += std::string(": ") + cups;
    return makeError(ErrorKind::PrintServer, msg);
}

bool failed(ipp_status_t status) { return status > IPP_STATUS_OK_CONFLICTING; }

Error abandoned() {
    return makeError(ErrorKind::Aborted, "the print was abandoned: the station is closing");
}

Result<http_t*> connectTo(const std::string& server) {
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
    return h;
}

ipp_t* newRequest(ipp_op_t op) {
    ipp_t* request = ippNewRequest(op);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
    return request;
}

void requestAttributes(ipp_t* request, std::initializer_list<const char*> names) {
    std::vector<const char*> v(names);
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  int(v.size()), nullptr, v.data());
}

std::string resourceOf(const std::string& uri) {
    char scheme[32], user[256], host[256], resource[1024];
    int port = 0;
    if (httpSeparateURI(HTTP_URI_CODING_ALL, uri.c_str(), scheme, sizeof scheme, user, sizeof user,
                        host, sizeof host, &port, resource, sizeof resource) < HTTP_URI_STATUS_OK) {
        return "/";
    }
    return resource;
}

}  // namespace plx::ipp
