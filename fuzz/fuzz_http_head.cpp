// The status page's first look at what a client sends: RequestHeadScanner over any bytes.
// Input: one byte choosing where to cut, then the bytes of the connection.
//
// Checks, besides "no crash, no sanitizer report": the verdict and the count of whole heads
// do not depend on how the bytes are cut into pieces (the network cuts them anywhere); a head
// takes at least two line ends (its request line and the empty line); "too large" only comes
// with more bytes or header lines than allowed.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "monitoring/request_head.h"

namespace {

[[noreturn]] void fail(const char* why) {
    std::fprintf(stderr, "fuzz_http_head: %s\n", why);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::size_t step = std::size_t(data[0] % 17) + 1;
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

    plx::RequestHeadScanner whole;
    whole.feed(bytes);
    plx::RequestHeadScanner pieces;
    for (std::size_t at = 0; at < bytes.size(); at += step) pieces.feed(bytes.substr(at, step));
    if (pieces.verdict() != whole.verdict()) fail("the verdict depends on the pieces");
    if (pieces.heads() != whole.heads()) fail("the heads depend on the pieces");

    std::size_t lineEnds = 0;
    for (const char c : bytes) lineEnds += c == '\n' ? 1 : 0;
    if (std::size_t(whole.heads()) * 2 > lineEnds) fail("a head ended without its line ends");
    if (whole.verdict() == plx::RequestHeadScanner::Verdict::TooLarge &&
        bytes.size() <= plx::RequestHeadScanner::kMaxHeadBytes &&
        lineEnds <= std::size_t(plx::RequestHeadScanner::kMaxHeaderLines))
        fail("too large without too many bytes or lines");
    return 0;
}
