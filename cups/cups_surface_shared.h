#pragma once
// What the files of the CUPS print surface share: the answers it keeps for a round, its
// pacing constants, and its way of waiting for the server while the window runs. Only those
// files include this.

#include <condition_variable>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include <cups/cups.h>

#include "cups/cups_print_surface.h"
#include "cups/ipp_decode.h"
#include "cups/ipp_request.h"

namespace plx {

namespace ipp {

using Clock = std::chrono::steady_clock;

// A server closes connections left idle; one unused this long is opened afresh.
constexpr auto kIdleReconnect = std::chrono::seconds(5);

// Everything the page and the readiness check need, in one request.
constexpr std::initializer_list<const char*> kQueueFactAttributes = {
    "printer-state",
    "printer-state-reasons",
    "printer-state-message",
    "printer-is-accepting-jobs",
    "printer-config-change-time",
    "media-default",
    "media-col-default",
    "printer-resolution-default",
    "printer-resolution-supported"};

// The station's jobs as the follower needs them.
constexpr std::initializer_list<const char*> kJobAttributes = {"job-id",
                                                               "job-uuid",
                                                               "job-state",
                                                               "job-state-reasons",
                                                               "job-printer-state-message",
                                                               "job-impressions-completed",
                                                               "job-media-sheets-completed",
                                                               kJobTokenAttribute};

// While work for the server runs on its own thread, the window turns this often.
constexpr auto kTurnEvery = std::chrono::milliseconds(20);
// Told to stop, work for the server still gets this long to end by itself.
constexpr auto kAnswerGrace = std::chrono::seconds(1);
// The round's printer list serves a long round (thousands of files) no longer than this.
constexpr auto kRoundAnswers = std::chrono::seconds(10);
// A kept PPD is asked about again (only sent if changed) after this long even when the
// queue's configuration time says nothing: a PPD edited in place changes no such time.
constexpr auto kPpdRecheck = std::chrono::minutes(5);
// The event subscription lives this long unless renewed (half way): one left behind by a
// station that was killed goes by itself.
constexpr int kLeaseSeconds = 900;
// A server that refused a subscription is asked again after this long; meanwhile every
// look is a sweep.
constexpr auto kSubscribeRetry = std::chrono::minutes(10);
// The server as a whole, for server-wide questions (events, jobs by number).
constexpr const char* kServerUri = "ipp://localhost/";

// A request about the event subscription `id`, to the server as a whole.
inline ipp_t* subscriptionRequest(ipp_op_t op, int id) {
    ipp_t* request = newRequest(op);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, kServerUri);
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-subscription-id", id);
    return request;
}

}  // namespace ipp

struct CupsPrintSurface::QueueFacts {
    QueueState state;
    ipp::PageFacts page;
    int configTime = -1;  // printer-config-change-time; -1 when the server gives none
    bool fresh = false;   // asked this round, and no job has gone to the queue since
};

struct CupsPrintSurface::Kept {
    // This round's answers.
    std::optional<std::vector<PrinterInfo>> printers;
    ipp::Clock::time_point printersAt{};
    std::map<std::string, QueueFacts> queues;

    // A queue's PPD as last fetched, and the route last made from it.
    struct Ppd {
        bool known = false;
        std::string text;  // empty: the queue has none
        time_t modified = 0;
        int configTime = -1;
        time_t checkedServerTime = 0;  // the server's clock when last asked
        ipp::Clock::time_point checkedAt{};
        std::optional<DocumentRoute> route;
        std::string routeFor;  // the page and media the route was made for
    };
    std::map<std::string, Ppd> ppds;

    // The server-wide event subscription; id 0: none.
    struct Subscription {
        int id = 0;
        ipp::Clock::time_point renewAt{};
        ipp::Clock::time_point retryAt{};
        std::optional<ipp::Event> anchor;  // the last event read: it must come again first
    } subscription;
};

namespace ipp {

// Marks work for the server under way for as long as it lives.
class UnderWay {
  public:
    explicit UnderWay(bool& flag) : m_flag(flag) { m_flag = true; }
    ~UnderWay() { m_flag = false; }
    UnderWay(const UnderWay&) = delete;
    UnderWay& operator=(const UnderWay&) = delete;

  private:
    bool& m_flag;
};

inline Error busy() {
    return makeError(ErrorKind::PrintServer,
                     "the print server was asked again while it was still answering");
}

inline Error abandonedWait() {
    return makeError(ErrorKind::Aborted,
                     "the question to the print server was abandoned: the station is closing");
}

}  // namespace ipp

template <typename Work>
auto CupsPrintSurface::whileWaiting(Work work, const KeepGoing& pace)
    -> decltype(work(KeepGoing{})) {
    using Out = decltype(work(KeepGoing{}));
    if (m_requesting) return Out(ipp::busy());
    const ipp::UnderWay underWay(m_requesting);
    m_abandoned = false;
    const KeepGoing& turn = pace ? pace : m_waitPace;
    if (!turn) return work(KeepGoing{});
    struct Shared {
        std::mutex lock;
        std::condition_variable changed;
        std::optional<Out> out;
        bool asking = false;  // the work waits for the pace's word
        bool answer = true;
    };
    auto shared = std::make_shared<Shared>();
    // For the work: runs the pace on this thread and says what it said.
    const KeepGoing askPace = [shared] {
        std::unique_lock<std::mutex> lock(shared->lock);
        shared->asking = true;
        shared->changed.notify_all();
        shared->changed.wait(lock, [&] { return !shared->asking; });
        return shared->answer;
    };
    std::thread worker([shared, &work, &askPace] {
        Out out = work(askPace);
        const std::lock_guard<std::mutex> lock(shared->lock);
        shared->out.emplace(std::move(out));
        shared->changed.notify_all();
    });
    std::optional<ipp::Clock::time_point> stoppedAt;
    for (bool shut = false;;) {
        bool asked = false;
        {
            std::unique_lock<std::mutex> lock(shared->lock);
            shared->changed.wait_for(lock, ipp::kTurnEvery,
                                     [&] { return shared->out.has_value() || shared->asking; });
            if (shared->out) break;
            asked = shared->asking;
        }
        const bool goOn = !stoppedAt && turn();
        if (!goOn && !stoppedAt) {
            // No further piece of a document goes out; an answer already on its way gets a
            // moment to arrive (a job the server took is then known), then nothing is waited
            // for any more.
            stoppedAt = ipp::Clock::now();
            m_abandoned = true;
        }
        if (asked) {
            const std::lock_guard<std::mutex> lock(shared->lock);
            shared->answer = goOn;
            shared->asking = false;
            shared->changed.notify_all();
        }
        if (stoppedAt && !shut && ipp::Clock::now() - *stoppedAt > ipp::kAnswerGrace) {
            shut = true;
            const std::lock_guard<std::mutex> lock(m_connectionLock);
            if (m_http) httpShutdown(m_http.get());
        }
    }
    worker.join();
    return std::move(*shared->out);
}

}  // namespace plx
