#pragma once
// Talking to the print server: a connection of the station's own, requests as the station
// makes them, and what a failed one says.

#include <initializer_list>
#include <string>

#include <cups/cups.h>

#include "common/result.h"

namespace plx::ipp {

Error serverError(const std::string& what);
// The answer says the request failed (anything above "ok, but conflicting").
bool failed(ipp_status_t status);
Error abandoned();

// A connection of our own, so that two surfaces can talk to two servers and a restarted
// server never meets a stale connection. `server`: a socket path or host[:port].
Result<http_t*> connectTo(const std::string& server);
// A request of the station's user.
ipp_t* newRequest(ipp_op_t op);
void requestAttributes(ipp_t* request, std::initializer_list<const char*> names);
// "/printers/QLS-4100-Xe" out of "ipp://localhost/printers/QLS-4100-Xe".
std::string resourceOf(const std::string& uri);

}  // namespace plx::ipp
