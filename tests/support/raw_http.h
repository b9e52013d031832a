#pragma once
// A plain-socket HTTP client for the status page's tests: it says exactly the bytes it is
// given (malformed ones too) and runs on a thread of its own, while the test's thread turns
// the event loop the page is served from.

#include <functional>
#include <string>

namespace plx::test {

// Runs `client` on another thread and the event loop here until it returns.
void whileServing(const std::function<void()>& client);

// A connection to 127.0.0.1:port; -1 when it cannot be made.
int dial(int port);
void sendAll(int fd, const std::string& bytes);
// Everything received until the server closes the connection or `waitMs` pass in silence.
std::string receiveAll(int fd, int waitMs);

// One connection: sends `request`, returns all that came back.
std::string roundTrip(int port, const std::string& request, int waitMs = 3000);

// The status code of the first answer in `response`; 0 when there is none.
int statusOf(const std::string& response);
// The body of the first answer (by its Content-Length).
std::string bodyOf(const std::string& response);

}  // namespace plx::test
