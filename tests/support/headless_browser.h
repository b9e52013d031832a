#pragma once
// A real browser for the status page's tests: Debian's chromium, headless, with a profile of
// its own that is thrown away afterwards.

#include <string>

namespace plx::test {

// The page's DOM once its scripts have run (Chromium's --dump-dom after a virtual time
// budget); empty when the browser cannot be started or prints nothing (an unreachable page
// prints nothing and still exits 0, so only the output tells).
std::string dumpDom(const std::string& url, int budgetMs = 4000);

}  // namespace plx::test
