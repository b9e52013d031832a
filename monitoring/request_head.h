#pragma once
// Watches the bytes a client sends to the status page before the HTTP server reads them, so
// that what the page has no use for is refused early and cheaply: heads larger than any
// browser sends, requests with a body (the page only answers GET and HEAD), and what is not
// HTTP at all. Plain C++ over a byte stream, fed in whatever pieces the network gives.

#include <cstddef>
#include <string>
#include <string_view>

namespace plx {

class RequestHeadScanner {
  public:
    static constexpr std::size_t kMaxHeadBytes = std::size_t{16} * 1024;
    static constexpr int kMaxHeaderLines = 100;

    enum class Verdict {
        Fine,       // every head so far is acceptable; maybe one is under way
        TooLarge,   // a head beyond the limits: 431
        HasBody,    // a request that announces a body: 413
        Malformed,  // not an HTTP/1.x request head: 400
    };

    // Takes the next bytes of the connection. Once refused, a connection stays refused.
    Verdict feed(std::string_view bytes);
    Verdict verdict() const { return m_verdict; }
    // Whole request heads seen so far.
    int heads() const { return m_heads; }
    // Part of a head has arrived and its end has not.
    bool inHead() const { return m_headBytes > 0; }

  private:
    void endLine();
    void checkRequestLine(std::string_view line);
    void checkHeaderLine(std::string_view line);

    Verdict m_verdict = Verdict::Fine;
    std::string m_line;
    std::size_t m_headBytes = 0;
    int m_lines = 0;  // lines of the present head, the request line included
    int m_heads = 0;
};

}  // namespace plx
