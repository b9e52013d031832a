// The CUPS surface's decisions over what the server says, one table of boundary rows each.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "cups/ipp_decisions.h"
#include "printing/queue_wording.h"

namespace plx {
namespace {

TEST(CupsDecisions, ClosestDpiTakesTheNearestAndTheFinerOfTwoEquallyNear) {
    struct Row {
        std::vector<int> offered;
        int wanted;
        int expected;
    };
    const Row rows[] = {
        {{300, 600, 1200}, 1200, 1200},  // offered exactly
        {{300, 600}, 1200, 600},         // below all it wants
        {{600, 1800}, 1200, 1800},       // 600 either way: the finer
        {{1800, 600}, 1200, 1800},       // whatever the order offered
        {{1199, 1201}, 1200, 1201},
        {{1000, 1300}, 1200, 1300},  // the nearer, though finer than wanted
        {{1100, 1400}, 1200, 1100},  // the nearer, though coarser
        {{300}, 1200, 300},
        {{}, 1200, 0},  // nothing offered: nothing to choose
    };
    for (const Row& r : rows) {
        EXPECT_EQ(closestDpi(r.offered, r.wanted), r.expected)
            << r.offered.size() << " offered, " << r.wanted << " wanted";
    }
}

TEST(CupsDecisions, PhaseOfTellsEndedFromWaitingAndAPersonsCancelFromAFailure) {
    // IPP job-state values.
    enum { Pending = 3, Held, Processing, Stopped, Canceled, Aborted, Completed };
    struct Row {
        int state;
        std::vector<std::string> reasons;
        JobPhase expected;
    };
    const Row rows[] = {
        {Pending, {}, JobPhase::Waiting},
        {Held, {"job-hold-until-specified"}, JobPhase::Waiting},
        {Processing, {"job-printing"}, JobPhase::Waiting},
        {Stopped, {"printer-stopped"}, JobPhase::Waiting},
        {Completed, {"job-completed-successfully"}, JobPhase::Completed},
        {Completed, {"job-canceled-by-user"}, JobPhase::Completed},
        {Aborted, {"aborted-by-system"}, JobPhase::Failed},
        {Aborted, {"job-canceled-by-user"}, JobPhase::Failed},
        {Canceled, {"job-canceled-by-user"}, JobPhase::CanceledByPerson},
        {Canceled, {"job-canceled-by-operator"}, JobPhase::CanceledByPerson},
        {Canceled,
         {"processing-to-stop-point", "job-canceled-at-device"},
         JobPhase::CanceledByPerson},
        {Canceled, {"job-canceled-by-system"}, JobPhase::Failed},
        {Canceled, {}, JobPhase::Failed},
        {0, {}, JobPhase::Waiting},  // a state the server did not give
    };
    for (const Row& r : rows) {
        EXPECT_EQ(phaseOf(r.state, r.reasons), r.expected)
            << "state " << r.state << ", " << r.reasons.size() << " reason(s)";
    }
}

TEST(CupsDecisions, IppJobNameIsUtf8OfAtMost255BytesCutAtACharacter) {
    const std::string x254(254, 'x');
    struct Row {
        std::string name;
        std::string expected;
    };
    const Row rows[] = {
        {"lot42_front_3.bmp", "lot42_front_3.bmp"},
        {"\xc3\xa9t\xc3\xa9.bmp", "\xc3\xa9t\xc3\xa9.bmp"},  // UTF-8 kept
        {"\xe9t\xe9.bmp", "\xc3\xa9t\xc3\xa9.bmp"},          // Latin-1 read as such
        {"a\tb\x7f"
         "c",
         "a b c"},                                                 // control characters: blanks
        {"\xc0\xaf", "\xc3\x80\xc2\xaf"},                          // an overlong "/" is two bytes
        {"\xed\xa0\x80", "\xc3\xad\xc2\xa0\xc2\x80"},              // a surrogate: three bytes
        {"\xf4\x90\x80\x80", "\xc3\xb4\xc2\x90\xc2\x80\xc2\x80"},  // past U+10FFFF
        {"\xe2\x82", "\xc3\xa2\xc2\x82"},                          // cut short
        {std::string(300, 'x'), std::string(255, 'x')},
        {x254 + "\xc3\xa9", x254},  // the last character would not fit whole
        {x254 + "y", x254 + "y"},
        {"", "label"},
    };
    for (const Row& r : rows) EXPECT_EQ(ippJobName(r.name), r.expected) << r.name;
}

TEST(CupsDecisions, QueueRefusalStopsJobsForAStoppedOrRejectingQueueOnly) {
    struct Row {
        QueueState state;
        std::optional<std::string> expected;
    };
    const Row rows[] = {
        {{}, std::nullopt},
        {{false, true, "Processing page 1...", {"toner-low-report"}}, std::nullopt},
        {{true, true, "out of labels", {"paused"}},
         "print queue \"Q\" is stopped: out of labels (paused)"},
        {{true, true, "", {}}, "print queue \"Q\" is stopped: stopped"},
        {{false, false, "", {}}, "print queue \"Q\" is not accepting jobs"},
        {{true, false, "", {"paused"}}, "print queue \"Q\" is not accepting jobs: paused"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(queueRefusal("Q", r.state), r.expected)
            << "stopped " << r.state.stopped << ", accepting " << r.state.accepting;
    }
}

TEST(QueueWording, SaysTheQueuesOwnWordsAndTheReasonsThatNeedAttention) {
    struct Row {
        QueueState state;
        std::string described;
        std::string attention;
    };
    const Row rows[] = {
        {{}, "", ""},
        {{true, true, "", {}}, "stopped", ""},
        {{true, true, "out of labels", {}}, "out of labels", ""},
        {{true, true, "", {"paused"}}, "paused", ""},
        {{false, true, "Processing page 1...", {"toner-low-report", "cover-open-warning"}},
         "Processing page 1... (toner-low-report, cover-open-warning)",
         "toner-low-report, cover-open-warning"},
        {{true, true, "jam", {"media-jam-error", "paused", "x-report-y"}},
         "jam (media-jam-error, paused, x-report-y)",
         "media-jam-error"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(describeQueueState(r.state), r.described);
        EXPECT_EQ(attentionReasons(r.state), r.attention);
    }
    // The readiness the window and the log show: the station's words, then the queue's own.
    EXPECT_EQ(queueStateWords({true, true, "out of labels", {"paused"}}).text(),
              "stopped: out of labels (paused)");
    EXPECT_EQ(queueStateWords({true, true, "", {}}).text(), "stopped");
    EXPECT_EQ(queueStateWords({false, false, "", {}}).text(), "not accepting jobs");
    EXPECT_EQ(queueStateWords({true, false, "", {"paused"}}).text(), "not accepting jobs: paused");
    EXPECT_EQ(queueStateWords({false, true, "Processing", {"toner-low-report"}}).text(),
              "toner-low-report");
    EXPECT_EQ(queueList({}), "none");
    EXPECT_EQ(queueList({{"A", "A"}, {"QLS", "QLS 4100"}, {"B", ""}}), "A, QLS \"QLS 4100\", B");
}

}  // namespace
}  // namespace plx
