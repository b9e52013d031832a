#include "cups/cups_print_surface.h"

#include <cups/cups.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <memory>
#include <string_view>
#include <thread>

namespace plx {

namespace {

using Clock = std::chrono::steady_clock;

// A server closes connections left idle; one unused this long is opened afresh.
constexpr auto kIdleReconnect = std::chrono::seconds(5);

// Options collected for one job, freed with it.
class Options {
  public:
    Options() = default;
    Options(const Options&) = delete;
    Options& operator=(const Options&) = delete;
    ~Options() { cupsFreeOptions(m_count, m_options); }
    void add(const char* name, const std::string& value) {
        m_count = cupsAddOption(name, value.c_str(), m_count, &m_options);
    }
    int count() const { return m_count; }
    cups_option_t* get() const { return m_options; }

  private:
    int m_count = 0;
    cups_option_t* m_options = nullptr;
};

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

// A connection of our own, so that two surfaces can talk to two servers and a restarted
// server never meets a stale connection.
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

std::string stringOf(ipp_t* response, const char* name) {
    ipp_attribute_t* a = ippFindAttribute(response, name, IPP_TAG_ZERO);
    const char* s = a != nullptr ? ippGetString(a, 0, nullptr) : nullptr;
    return s != nullptr ? s : "";
}

std::vector<std::string> keywordsOf(ipp_t* response, const char* name) {
    std::vector<std::string> out;
    ipp_attribute_t* a = ippFindAttribute(response, name, IPP_TAG_KEYWORD);
    for (int i = 0; a != nullptr && i < ippGetCount(a); ++i) {
        const char* s = ippGetString(a, i, nullptr);
        if (s != nullptr && std::strcmp(s, "none") != 0) out.emplace_back(s);
    }
    return out;
}

// Square resolutions only: a dot must be as wide as it is high.
int dpiOf(ipp_attribute_t* attr, int index) {
    ipp_res_t units = IPP_RES_PER_INCH;
    int yres = 0;
    const int xres = ippGetResolution(attr, index, &yres, &units);
    if (xres <= 0 || xres != yres) return 0;
    return units == IPP_RES_PER_CM ? static_cast<int>(std::lround(xres * 2.54)) : xres;
}

double hundredthsMmToPt(int v) { return v * 72.0 / 2540.0; }

// The server replaces a job name that is not UTF-8 or longer than 255 bytes by "Untitled".
// File names often come in Latin-1: invalid bytes are read as Latin-1, control characters
// become blanks, and the name is cut at a character boundary.
std::size_t utf8Length(const unsigned char* p, std::size_t left) {
    std::size_t len = 0;
    if (p[0] < 0x80) {
        len = 1;
    } else if ((p[0] & 0xE0) == 0xC0 && p[0] >= 0xC2) {
        len = 2;
    } else if ((p[0] & 0xF0) == 0xE0) {
        len = 3;
    } else if ((p[0] & 0xF8) == 0xF0 && p[0] <= 0xF4) {
        len = 4;
    }
    if (len == 0 || len > left) return 0;
    for (std::size_t k = 1; k < len; ++k) {
        if ((p[k] & 0xC0) != 0x80) return 0;
    }
    if (len == 3) {
        const unsigned cp = (p[0] & 0x0Fu) << 12 | (p[1] & 0x3Fu) << 6;
        if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    }
    if (len == 4) {
        const unsigned cp = (p[0] & 0x07u) << 18 | (p[1] & 0x3Fu) << 12;
        if (cp < 0x10000 || cp > 0x10FFFF) return 0;
    }
    return len;
}

std::string ippJobName(const std::string& name) {
    std::string out;
    const auto* p = reinterpret_cast<const unsigned char*>(name.data());
    const std::size_t n = name.size();
    for (std::size_t i = 0; i < n;) {
        std::size_t len = utf8Length(p + i, n - i);
        std::string ch;
        if (len == 0) {
            ch = {char(0xC0 | (p[i] >> 6)), char(0x80 | (p[i] & 0x3F))};
            len = 1;
        } else if (len == 1 && (p[i] < 0x20 || p[i] == 0x7F)) {
            ch = " ";
        } else {
            ch.assign(name, i, len);
        }
        if (out.size() + ch.size() > 255) break;
        out += ch;
        i += len;
    }
    return out.empty() ? std::string("label") : out;
}

JobPhase phaseOf(int state, const std::vector<std::string>& reasons) {
    switch (state) {
        case IPP_JSTATE_COMPLETED:
            return JobPhase::Completed;
        case IPP_JSTATE_ABORTED:
            return JobPhase::Failed;
        case IPP_JSTATE_CANCELED:
            for (const std::string& r : reasons) {
                if (r == "job-canceled-by-user" || r == "job-canceled-by-operator" ||
                    r == "job-canceled-at-device") {
                    return JobPhase::CanceledByPerson;
                }
            }
            return JobPhase::Failed;
        default:
            return JobPhase::Waiting;
    }
}

std::string joined(const std::vector<std::string>& words) {
    std::string out;
    for (const std::string& w : words) out += (out.empty() ? "" : ", ") + w;
    return out;
}

// The job attribute that carries the station's claim token. cupsd keeps an attribute of the
// client's own with the job, across its restarts too, and returns it when asked by name.
constexpr const char* kJobTokenAttribute = "plixagram-claim";

// One job's attributes, as they come in a Get-Jobs answer.
struct JobAttributes {
    JobStatus status;
    int state = 0;
    std::vector<std::string> reasons;
    int impressions = 0;
    int sheets = 0;

    void take(ipp_attribute_t* a, const char* name) {
        const std::string_view n(name);
        const char* text = ippGetString(a, 0, nullptr);
        if (n == "job-id") {
            status.id = ippGetInteger(a, 0);
        } else if (n == "job-state") {
            state = ippGetInteger(a, 0);
        } else if (n == "job-state-reasons") {
            for (int i = 0; i < ippGetCount(a); ++i) {
                const char* r = ippGetString(a, i, nullptr);
                if (r != nullptr && std::strcmp(r, "none") != 0) reasons.emplace_back(r);
            }
        } else if (n == "job-impressions-completed") {
            impressions = ippGetInteger(a, 0);
        } else if (n == "job-media-sheets-completed") {
            sheets = ippGetInteger(a, 0);
        } else if (text != nullptr) {
            if (n == "job-uuid") status.uuid = text;
            if (n == "job-printer-state-message") status.message = text;
            if (n == kJobTokenAttribute) status.token = text;
        }
    }
    JobStatus finished() const {
        JobStatus s = status;
        s.phase = phaseOf(state, reasons);
        const char* word = ippEnumString("job-state", state);
        s.state = word != nullptr ? word : std::to_string(state);
        s.reasons = joined(reasons);
        if (impressions > 0)
            s.pages = impressions;
        else if (sheets > 0)
            s.pages = sheets;
        return s;
    }
};

// Every job in a Get-Jobs answer: one job group each, separated by an empty attribute.
std::vector<JobStatus> jobsIn(ipp_t* response) {
    std::vector<JobStatus> out;
    JobAttributes job;
    bool open = false;
    auto flush = [&] {
        if (open && job.status.id > 0) out.push_back(job.finished());
        job = JobAttributes{};
        open = false;
    };
    for (ipp_attribute_t* a = ippFirstAttribute(response); a != nullptr;
         a = ippNextAttribute(response)) {
        const char* name = ippGetName(a);
        if (name == nullptr || ippGetGroupTag(a) != IPP_TAG_JOB) {
            flush();
            continue;
        }
        open = true;
        job.take(a, name);
    }
    flush();
    return out;
}

QueueState queueStateOf(ipp_t* r) {
    QueueState s;
    ipp_attribute_t* state = ippFindAttribute(r, "printer-state", IPP_TAG_ENUM);
    s.stopped = state != nullptr && ippGetInteger(state, 0) == IPP_PSTATE_STOPPED;
    ipp_attribute_t* accepting = ippFindAttribute(r, "printer-is-accepting-jobs", IPP_TAG_BOOLEAN);
    s.accepting = accepting == nullptr || ippGetBoolean(accepting, 0) != 0;
    s.message = stringOf(r, "printer-state-message");
    s.reasons = keywordsOf(r, "printer-state-reasons");
    return s;
}

// The default page (hundredths of mm, with its printable-area margins) and resolutions.
struct PageFacts {
    int width = 21590;  // a queue without a driver states none: CUPS's own Letter
    int length = 27940;
    int left = 0;
    int top = 0;
    std::string media;  // PWG name for the job; empty when the queue names none
    int defaultDpi = 0;
    std::vector<int> offeredDpi;
};

int integerIn(ipp_t* collection, const char* name) {
    ipp_attribute_t* a = ippFindAttribute(collection, name, IPP_TAG_INTEGER);
    return a != nullptr ? ippGetInteger(a, 0) : 0;
}

PageFacts pageFactsOf(ipp_t* r) {
    PageFacts f;
    f.media = stringOf(r, "media-default");
    ipp_attribute_t* col = ippFindAttribute(r, "media-col-default", IPP_TAG_BEGIN_COLLECTION);
    ipp_t* media = col != nullptr ? ippGetCollection(col, 0) : nullptr;
    ipp_attribute_t* sizeAttr =
        media != nullptr ? ippFindAttribute(media, "media-size", IPP_TAG_BEGIN_COLLECTION)
                         : nullptr;
    ipp_t* size = sizeAttr != nullptr ? ippGetCollection(sizeAttr, 0) : nullptr;
    if (size != nullptr && integerIn(size, "x-dimension") > 0 &&
        integerIn(size, "y-dimension") > 0) {
        f.width = integerIn(size, "x-dimension");
        f.length = integerIn(size, "y-dimension");
        f.left = integerIn(media, "media-left-margin");
        f.top = integerIn(media, "media-top-margin");
    } else if (const pwg_media_t* known = pwgMediaForPWG(f.media.c_str())) {
        f.width = known->width;
        f.length = known->length;
    } else {
        f.media.clear();
    }
    if (ipp_attribute_t* def =
            ippFindAttribute(r, "printer-resolution-default", IPP_TAG_RESOLUTION)) {
        f.defaultDpi = dpiOf(def, 0);
    }
    ipp_attribute_t* sup = ippFindAttribute(r, "printer-resolution-supported", IPP_TAG_RESOLUTION);
    for (int i = 0; sup != nullptr && i < ippGetCount(sup); ++i) {
        if (const int dpi = dpiOf(sup, i); dpi > 0) f.offeredDpi.push_back(dpi);
    }
    return f;
}

// The offered resolution nearest to the wanted one; the finer of two equally near.
int closestDpi(const std::vector<int>& offered, int wanted) {
    int closest = 0;
    for (const int dpi : offered) {
        const int better = std::abs(dpi - wanted) - std::abs(closest - wanted);
        if (closest == 0 || better < 0 || (better == 0 && dpi > closest)) closest = dpi;
    }
    return closest;
}

// "/printers/QLS-4100-Xe" out of "ipp://localhost/printers/QLS-4100-Xe".
std::string resourceOf(const std::string& uri) {
    char scheme[32], user[256], host[256], resource[1024];
    int port = 0;
    if (httpSeparateURI(HTTP_URI_CODING_ALL, uri.c_str(), scheme, sizeof scheme, user, sizeof user,
                        host, sizeof host, &port, resource, sizeof resource) < HTTP_URI_STATUS_OK) {
        return "/";
    }
    return resource;
}

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

int configTimeOf(ipp_t* r) {
    ipp_attribute_t* a = ippFindAttribute(r, "printer-config-change-time", IPP_TAG_INTEGER);
    return a != nullptr ? ippGetInteger(a, 0) : -1;
}

// One event of the subscription, as much of it as tells it from any other.
struct Event {
    int seq = 0;
    std::string name;  // notify-subscribed-event
    int job = 0;
    int time = 0;  // printer-up-time: when the event was made
    int jobState = 0;
    std::string text;
    bool operator==(const Event&) const = default;
};

std::vector<Event> eventsIn(ipp_t* response) {
    std::vector<Event> out;
    Event e;
    bool open = false;
    auto flush = [&] {
        if (open && e.seq > 0) out.push_back(e);
        e = Event{};
        open = false;
    };
    for (ipp_attribute_t* a = ippFirstAttribute(response); a != nullptr;
         a = ippNextAttribute(response)) {
        const char* name = ippGetName(a);
        if (name == nullptr || ippGetGroupTag(a) != IPP_TAG_EVENT_NOTIFICATION) {
            flush();
            continue;
        }
        open = true;
        const std::string_view n(name);
        if (n == "notify-sequence-number") e.seq = ippGetInteger(a, 0);
        if (n == "notify-job-id" || n == "job-id") e.job = ippGetInteger(a, 0);
        if (n == "printer-up-time") e.time = ippGetInteger(a, 0);
        if (n == "job-state") e.jobState = ippGetInteger(a, 0);
        const char* text = ippGetString(a, 0, nullptr);
        if (n == "notify-subscribed-event" && text != nullptr) e.name = text;
        if (n == "notify-text" && text != nullptr) e.text = text;
    }
    flush();
    return out;
}

}  // namespace

struct CupsPrintSurface::QueueFacts {
    QueueState state;
    PageFacts page;
    int configTime = -1;  // printer-config-change-time; -1 when the server gives none
    bool fresh = false;   // asked this round, and no job has gone to the queue since
};

struct CupsPrintSurface::Kept {
    // This round's answers.
    std::optional<std::vector<PrinterInfo>> printers;
    Clock::time_point printersAt{};
    std::map<std::string, QueueFacts> queues;

    // A queue's PPD as last fetched, and the route last made from it.
    struct Ppd {
        bool known = false;
        std::string text;  // empty: the queue has none
        time_t modified = 0;
        int configTime = -1;
        time_t checkedServerTime = 0;  // the server's clock when last asked
        Clock::time_point checkedAt{};
        std::optional<DocumentRoute> route;
        std::string routeFor;  // the page and media the route was made for
    };
    std::map<std::string, Ppd> ppds;

    // The server-wide event subscription; id 0: none.
    struct Subscription {
        int id = 0;
        Clock::time_point renewAt{};
        Clock::time_point retryAt{};
        std::optional<Event> anchor;  // the last event read: it must come again first
    } subscription;
};

CupsPrintSurface::CupsPrintSurface() : CupsPrintSurface(std::string(cupsServer())) {}

CupsPrintSurface::CupsPrintSurface(std::string server)
    : m_server(std::move(server)),
      m_http(nullptr, [](http_t* h) { httpClose(h); }),
      m_kept(std::make_unique<Kept>()) {}

CupsPrintSurface::~CupsPrintSurface() {
    // The subscription would outlive the station until its lease ends: given back, if the
    // server answers soon.
    m_waitPace = {};
    const int id = m_kept->subscription.id;
    if (id <= 0) return;
    if (Result<http_t*> http = connection()) httpSetTimeout(*http, 2.0, nullptr, nullptr);
    (void)ask(
        [id] {
            ipp_t* request = newRequest(IPP_OP_CANCEL_SUBSCRIPTION);
            ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                         kServerUri);
            ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-subscription-id",
                          id);
            return request;
        },
        "cannot cancel the event subscription");
}

Result<http_t*> CupsPrintSurface::connection() {
    const std::lock_guard<std::mutex> lock(m_connectionLock);
    const auto now = Clock::now();
    if (m_http && now - m_httpUsed > kIdleReconnect) m_http.reset();
    if (!m_http) {
        Result<http_t*> h = connectTo(m_server);
        if (!h) return h.error();
        m_http.reset(*h);
    }
    m_httpUsed = now;
    return m_http.get();
}

void CupsPrintSurface::dropConnection() {
    const std::lock_guard<std::mutex> lock(m_connectionLock);
    m_http.reset();
}

void CupsPrintSurface::idle() {
    dropConnection();
    m_kept->printers.reset();
    for (auto& [queue, facts] : m_kept->queues) facts.fresh = false;
}

namespace {

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

Error busy() {
    return makeError(ErrorKind::PrintServer,
                     "the print server was asked again while it was still answering");
}

Error abandonedWait() {
    return makeError(ErrorKind::Aborted,
                     "the question to the print server was abandoned: the station is closing");
}

}  // namespace

template <typename Work>
auto CupsPrintSurface::whileWaiting(Work work, const KeepGoing& pace)
    -> decltype(work(KeepGoing{})) {
    using Out = decltype(work(KeepGoing{}));
    if (m_requesting) return Out(busy());
    const UnderWay underWay(m_requesting);
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
    std::optional<Clock::time_point> stoppedAt;
    for (bool shut = false;;) {
        bool asked = false;
        {
            std::unique_lock<std::mutex> lock(shared->lock);
            shared->changed.wait_for(lock, kTurnEvery,
                                     [&] { return shared->out.has_value() || shared->asking; });
            if (shared->out) break;
            asked = shared->asking;
        }
        const bool goOn = !stoppedAt && turn();
        if (!goOn && !stoppedAt) {
            // No further piece of a document goes out; an answer already on its way gets a
            // moment to arrive (a job the server took is then known), then nothing is waited
            // for any more.
            stoppedAt = Clock::now();
            m_abandoned = true;
        }
        if (asked) {
            const std::lock_guard<std::mutex> lock(shared->lock);
            shared->answer = goOn;
            shared->asking = false;
            shared->changed.notify_all();
        }
        if (stoppedAt && !shut && Clock::now() - *stoppedAt > kAnswerGrace) {
            shut = true;
            const std::lock_guard<std::mutex> lock(m_connectionLock);
            if (m_http) httpShutdown(m_http.get());
        }
    }
    worker.join();
    return std::move(*shared->out);
}

template <typename MakeRequest>
Result<std::shared_ptr<ipp_t>> CupsPrintSurface::ask(MakeRequest make, const std::string& what) {
    return whileWaiting([&](const KeepGoing&) -> Result<std::shared_ptr<ipp_t>> {
        for (int attempt = 0;; ++attempt) {
            Result<http_t*> http = connection();
            if (!http) return http.error();
            ipp_t* response = cupsDoRequest(*http, make(), "/");
            if (response != nullptr) return std::shared_ptr<ipp_t>(response, ippDelete);
            // No answer at all: the connection is gone (a server restarted meanwhile, say).
            Error e = serverError(what);
            dropConnection();
            if (m_abandoned) return abandonedWait();
            if (attempt > 0) return e;
        }
    });
}

std::string CupsPrintSurface::printerUri(const std::string& queue) const {
    const auto known = m_uris.find(queue);
    if (known != m_uris.end()) return known->second;
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(),
                     "/printers/%s", queue.c_str());
    return uri;
}

Result<std::vector<PrinterInfo>> CupsPrintSurface::printers() {
    Kept& kept = *m_kept;
    if (kept.printers && Clock::now() - kept.printersAt < kRoundAnswers) return *kept.printers;
    auto response = ask(
        [] {
            ipp_t* request = newRequest(IPP_OP_CUPS_GET_PRINTERS);
            std::vector<const char*> names{"printer-name", "printer-info", "printer-uri-supported"};
            names.insert(names.end(), kQueueFactAttributes.begin(), kQueueFactAttributes.end());
            ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                          int(names.size()), nullptr, names.data());
            return request;
        },
        "cannot list the print server's printers");
    if (!response) return response.error();
    if (failed(ippGetStatusCode(response->get()))) {
        // A server without any printer answers "not found": that is an empty list.
        if (ippGetStatusCode(response->get()) == IPP_STATUS_ERROR_NOT_FOUND) {
            kept.printers = std::vector<PrinterInfo>{};
            kept.printersAt = Clock::now();
            return *kept.printers;
        }
        return serverError("cannot list the print server's printers");
    }
    // Each printer's attributes come as one group; how it stands and its page are kept for
    // this round's readiness check and first document.
    std::vector<PrinterInfo> out;
    PrinterInfo p;
    std::string uri;
    std::unique_ptr<ipp_t, void (*)(ipp_t*)> group(ippNew(), ippDelete);
    auto flush = [&] {
        if (!p.queue.empty()) {
            if (!uri.empty()) m_uris[p.queue] = uri;
            QueueFacts& facts = kept.queues[p.queue];
            facts.state = queueStateOf(group.get());
            facts.page = pageFactsOf(group.get());
            facts.configTime = configTimeOf(group.get());
            facts.fresh = true;
            out.push_back(p);
        }
        p = PrinterInfo{};
        uri.clear();
        group.reset(ippNew());
    };
    for (ipp_attribute_t* a = ippFirstAttribute(response->get()); a != nullptr;
         a = ippNextAttribute(response->get())) {
        const char* name = ippGetName(a);
        if (name == nullptr) {  // the separator between two printers
            flush();
            continue;
        }
        if (ippGetGroupTag(a) != IPP_TAG_PRINTER) continue;
        ippCopyAttribute(group.get(), a, 0);
        const char* value = ippGetString(a, 0, nullptr);
        if (value == nullptr) continue;
        if (std::strcmp(name, "printer-name") == 0) p.queue = value;
        if (std::strcmp(name, "printer-info") == 0) p.description = value;
        if (std::strcmp(name, "printer-uri-supported") == 0) uri = value;
    }
    flush();
    kept.printers = out;
    kept.printersAt = Clock::now();
    return out;
}

void CupsPrintSurface::select(const PrinterInfo& printer) {
    m_current = printer;
    m_copies = 1;
    m_quality = 0;
}

Result<PrinterInfo> CupsPrintSurface::current() {
    if (m_current) return *m_current;
    // The server's own default, asked again until it answers.
    auto response = ask(
        [] {
            ipp_t* request = newRequest(IPP_OP_CUPS_GET_DEFAULT);
            requestAttributes(request, {"printer-name", "printer-info"});
            return request;
        },
        "cannot ask the print server for its default printer");
    if (!response) return response.error();
    const std::string name = stringOf(response->get(), "printer-name");
    if (failed(ippGetStatusCode(response->get())) || name.empty()) {
        return makeError(ErrorKind::PrintServer, "the print server names no default printer");
    }
    m_current = PrinterInfo{name, stringOf(response->get(), "printer-info")};
    return *m_current;
}

Result<std::shared_ptr<ipp_t>> CupsPrintSurface::askQueue(
    const std::string& queue, std::initializer_list<const char*> attributes,
    const std::string& what) {
    const std::string uri = printerUri(queue);
    auto response = ask(
        [&] {
            ipp_t* request = newRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
            ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                         uri.c_str());
            requestAttributes(request, attributes);
            return request;
        },
        "cannot ask print queue \"" + queue + "\" " + what);
    if (!response) return response.error();
    if (failed(ippGetStatusCode(response->get())))
        return serverError("print queue \"" + queue + "\" not found");
    return response;
}

Result<const CupsPrintSurface::QueueFacts*> CupsPrintSurface::queueFacts(const std::string& queue) {
    QueueFacts& facts = m_kept->queues[queue];
    if (facts.fresh) return &facts;
    auto response = askQueue(queue, kQueueFactAttributes, "how it stands");
    if (!response) return response.error();
    facts.state = queueStateOf(response->get());
    facts.page = pageFactsOf(response->get());
    facts.configTime = configTimeOf(response->get());
    facts.fresh = true;
    return &facts;
}

Result<QueueState> CupsPrintSurface::queueState() {
    Result<PrinterInfo> printer = current();
    if (!printer) return printer.error();
    Result<const QueueFacts*> facts = queueFacts(printer->queue);
    if (!facts) return facts.error();
    return (*facts)->state;
}

void CupsPrintSurface::setCopies(std::int16_t copies) { m_copies = copies; }

void CupsPrintSurface::setUnit(Unit unit) { m_unit = unit; }

void CupsPrintSurface::setPrintQuality(int dpi) { m_quality = dpi > 0 ? dpi : 0; }

// The queue's page and resolution, and how it stands: as this round's answers have them
// while no job has gone to the queue since, else asked in one request (libcups' own
// destination info would fetch every attribute the queue has, several times over).
Result<void> CupsPrintSurface::setUpPage() {
    Result<PrinterInfo> printer = current();
    if (!printer) return printer.error();
    Result<const QueueFacts*> known = queueFacts(printer->queue);
    if (!known) return known.error();
    const QueueFacts& queue = **known;
    const PageFacts& facts = queue.page;
    m_docState = queue.state;
    m_docMedia = facts.media;

    int dpi = facts.defaultDpi;
    if (m_quality > 0) {
        // A resolution the queue does not offer would be ignored by the server and the dots
        // scaled: take the closest one it offers (sizes in inches stay the same) and say so.
        dpi = m_quality;
        const int closest = closestDpi(facts.offeredDpi, m_quality);
        if (closest > 0 && closest != m_quality) {
            dpi = closest;
            m_docNotice =
                Message(PLX_TR("Station",
                               "print queue \"%1\" does not offer %2 dpi: "
                               "printed at %3 dpi, the label keeps its size"),
                        {printer->queue, std::to_string(m_quality), std::to_string(closest)});
        }
    }
    // A queue without a driver (a raw queue) states no resolution: lay the page out at the
    // common 600 dpi rather than refuse every job.
    if (dpi <= 0) dpi = 600;

    LabelPage page;
    page.widthPt = hundredthsMmToPt(facts.width);
    page.heightPt = hundredthsMmToPt(facts.length);
    page.dpi = dpi;
    m_originX = std::floor(hundredthsMmToPt(facts.left) * dpi / 72.0 + 0.5);
    m_originY = std::floor(hundredthsMmToPt(facts.top) * dpi / 72.0 + 0.5);

    // The printer's own raster where its driver takes one, else the PDF.
    const DocumentRoute route =
        m_rasterDocuments ? routeFor(printer->queue, queue, page, m_docMedia) : DocumentRoute{};
    m_page = page;
    m_docRoute = route.reason;
    m_doc = makePrintDocument(route, page);
    return {};
}

DocumentRoute CupsPrintSurface::routeFor(const std::string& queue, const QueueFacts& facts,
                                         const LabelPage& page, const std::string& media) {
    Kept::Ppd& ppd = m_kept->ppds[queue];
    const auto now = Clock::now();
    // Both times count whole seconds: a change in the very second of the last look would
    // move neither, so a copy fetched in the second of a change is looked at once more, and
    // fetched whole rather than "if modified since".
    const bool sameSecond =
        ppd.checkedServerTime <= time_t(facts.configTime) || ppd.checkedServerTime <= ppd.modified;
    const bool ask = !ppd.known || facts.configTime < 0 || facts.configTime != ppd.configTime ||
                     sameSecond || now - ppd.checkedAt > kPpdRecheck;
    if (ask) {
        // One GET, sent only if the PPD changed; a class has none of its own, and libcups
        // then finds a member's.
        const std::string resource = resourceOf(printerUri(queue)) + ".ppd";
        time_t serverNow = 0;
        if (sameSecond) ppd.modified = 0;
        const Result<PpdFetch> fetched = whileWaiting([&](const KeepGoing&) -> Result<PpdFetch> {
            PpdFetch got = PpdFetch::Failed;
            for (int attempt = 0; attempt < 2 && got == PpdFetch::Failed && !m_abandoned;
                 ++attempt) {
                Result<http_t*> http = connection();
                if (!http) break;
                got = fetchPpdText(*http, resource, ppd.modified, ppd.text, &serverNow);
                if (got == PpdFetch::None)
                    got = fetchMemberPpd(*http, queue, ppd.modified, ppd.text);
                if (got == PpdFetch::Failed) dropConnection();
            }
            return got;
        });
        const PpdFetch got = fetched ? *fetched : PpdFetch::Failed;
        if (got == PpdFetch::Fetched || got == PpdFetch::None) ppd.route.reset();
        if (got == PpdFetch::None) ppd.text.clear();
        if (got != PpdFetch::Failed) {
            ppd.known = true;
            ppd.configTime = facts.configTime;
            ppd.checkedServerTime = serverNow > 0 ? serverNow : std::time(nullptr);
            ppd.checkedAt = now;
        }
    }
    if (!ppd.known) return routeForPpd({}, queue, page, media);
    // The same PPD, page and media make the same route.
    const std::string key = std::to_string(page.widthPt) + "x" + std::to_string(page.heightPt) +
                            "@" + std::to_string(page.dpi) + " " + media;
    if (!ppd.route || ppd.routeFor != key) {
        ppd.route = routeForPpd(ppd.text, queue, page, media);
        ppd.routeFor = key;
    }
    return *ppd.route;
}

PrintDocument& CupsPrintSurface::document() {
    if (m_doc) return *m_doc;
    m_docError.reset();
    m_docNotice = Message();
    m_docRoute.clear();
    m_originX = m_originY = 0.0;
    m_docMedia.clear();
    Result<void> setUp = setUpPage();
    if (!setUp) {
        // Laid out blind so the drawing can go on; never submitted.
        m_docError = setUp.error();
        m_page = LabelPage{};
        if (m_quality > 0) m_page.dpi = m_quality;
        m_doc = makePrintDocument(DocumentRoute{}, m_page);
    }
    return *m_doc;
}

double CupsPrintSurface::scale() const {
    return m_unit == Unit::Inch ? static_cast<double>(m_page.dpi) : 1.0;
}

void CupsPrintSurface::plot(float x, float y, ColorValue color) {
    PrintDocument& doc = document();
    const double s = scale();
    const double dx = std::floor(double(x) * s);
    const double dy = std::floor(double(y) * s);
    // Off the printable area to the left or top: clipped, not moved into the margin.
    if (!(dx >= 0.0 && dy >= 0.0)) return;
    doc.plot(dx + m_originX, dy + m_originY, color);
}

void CupsPrintSurface::plotRow(std::int64_t x0, float y, const ColorValue* colours,
                               std::size_t count) {
    if (m_unit != Unit::Pixel) {
        PrintSurface::plotRow(x0, y, colours, count);
        return;
    }
    PrintDocument& doc = document();
    const double dy = std::floor(double(y));
    // Off the printable area to the left or top: clipped, as plot() clips.
    if (!(dy >= 0.0) || count == 0) return;
    const std::size_t skip =
        x0 >= 0 ? 0 : std::size_t(std::min<std::uint64_t>(std::uint64_t(-(x0 + 1)) + 1, count));
    if (skip == count) return;
    doc.plotRow(x0 + std::int64_t(skip) + std::int64_t(m_originX), std::int64_t(dy + m_originY),
                colours + skip, count - skip);
}

void CupsPrintSurface::drawPicture(const PictureView& picture, double x, double y, double width,
                                   double height, const KeepGoing& pace) {
    PrintDocument& doc = document();
    const double s = scale();
    doc.drawPicture(picture, x * s + m_originX, y * s + m_originY, width * s, height * s, pace);
}

void CupsPrintSurface::abortDocument() {
    m_doc.reset();
    m_docError.reset();
    m_jobToken.clear();
}

// The job's uuid, which Print-Job does not answer with; empty when the server gives none.
std::string CupsPrintSurface::jobUuid(int id) {
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(),
                     "/jobs/%d", id);
    auto response = ask(
        [&] {
            ipp_t* request = newRequest(IPP_OP_GET_JOB_ATTRIBUTES);
            ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri);
            requestAttributes(request, {"job-uuid"});
            return request;
        },
        "cannot ask the print server about job " + std::to_string(id));
    if (!response || failed(ippGetStatusCode(response->get()))) return {};
    return stringOf(response->get(), "job-uuid");
}

Result<void> CupsPrintSurface::finishDocument(const KeepGoing& pace) {
    const auto t0 = Clock::now();
    try {
        if (!m_doc->finish(pace)) return abandoned();
    } catch (const std::exception& e) {
        // Out of memory, say: not the job's fault, so it is tried again.
        return makeError(ErrorKind::Io,
                         std::string("cannot build the print document: ") + e.what());
    }
    m_figures.buildSeconds = std::chrono::duration<double>(Clock::now() - t0).count();
    m_figures.format = m_doc->format();
    m_figures.route = m_docRoute;
    return {};
}

// One Print-Job request: the server makes the job only once it has the whole document, so a
// connection lost on the way leaves no job behind.
Result<int> CupsPrintSurface::submit(const std::string& queue, const std::string& jobName,
                                     const KeepGoing& pace) {
    // All of it (compressing the raster on the way too) off the window's thread, which pace
    // turns meanwhile; once pace says stop, no further piece goes out.
    return whileWaiting(
        [&](const KeepGoing& goOn) { return sendJob(queue, jobName, goOn ? goOn : pace); }, pace);
}

ipp_t* CupsPrintSurface::printJobRequest(const std::string& uri, const std::string& jobName) const {
    const int dpi = m_page.dpi;
    Options options;
    options.add("copies", std::to_string(m_doc->holdsCopies() ? 1 : m_copies));
    // The IPP attribute for IPP printers, the PPD option for PPD queues: the raster must be
    // made at the resolution the document was laid out for.
    options.add("printer-resolution", std::to_string(dpi) + "dpi");
    options.add("Resolution", std::to_string(dpi) + "dpi");
    options.add("print-color-mode", "color");
    // Page coordinates must arrive unchanged: no scaling, fitting or rotating by the filters.
    options.add("print-scaling", "none");
    options.add("fit-to-page", "false");
    options.add("number-up", "1");
    if (!m_docMedia.empty()) options.add("media", m_docMedia);

    ipp_t* request = newRequest(IPP_OP_PRINT_JOB);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr,
                 ippJobName(jobName).c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr,
                 m_doc->format().c_str());
    cupsEncodeOptions2(request, options.count(), options.get(), IPP_TAG_OPERATION);
    cupsEncodeOptions2(request, options.count(), options.get(), IPP_TAG_JOB);
    if (!m_jobToken.empty())
        ippAddString(request, IPP_TAG_JOB, IPP_TAG_NAME, kJobTokenAttribute, nullptr,
                     m_jobToken.c_str());
    return request;
}

Result<int> CupsPrintSurface::sendJob(const std::string& queue, const std::string& jobName,
                                      const KeepGoing& pace) {
    const auto t0 = Clock::now();
    Result<http_t*> http = connection();
    if (!http) return http.error();
    http_t* h = *http;

    const std::string uri = printerUri(queue);
    ipp_t* request = printJobRequest(uri, jobName);
    std::unique_ptr<ipp_t, void (*)(ipp_t*)> sent(request, ippDelete);

    const std::string resource = resourceOf(uri);
    // Chunked: a raster is compressed while it is sent, so its length is not known before.
    bool ok =
        cupsSendRequest(h, request, resource.c_str(), CUPS_LENGTH_VARIABLE) == HTTP_STATUS_CONTINUE;
    std::string why;
    bool stopped = false;
    try {
        constexpr std::size_t kChunk = std::size_t{256} * 1024;
        ok = ok && m_doc->writeTo(m_copies, [&](const char* data, std::size_t size) {
            for (std::size_t off = 0; off < size; off += kChunk) {
                // Asked before each piece, never after the last: stopped, the request is left
                // unfinished, so the server makes no job of it.
                if (!mayGoOn(pace)) {
                    stopped = true;
                    return false;
                }
                const std::size_t n = std::min(kChunk, size - off);
                if (cupsWriteRequestData(h, data + off, n) != HTTP_STATUS_CONTINUE) return false;
            }
            m_figures.documentBytes += size;
            return true;
        });
    } catch (const std::exception& e) {
        // Compressing on the way can run out of memory too.
        ok = false;
        why = std::string(": ") + e.what();
    }
    if (stopped || (!ok && m_abandoned)) {
        dropConnection();
        return abandoned();
    }
    std::unique_ptr<ipp_t, void (*)(ipp_t*)> response(
        ok ? cupsGetResponse(h, resource.c_str()) : nullptr, ippDelete);
    if (!response || failed(ippGetStatusCode(response.get()))) {
        // A request cut off half way is dropped with its connection: the server makes no job.
        // One that went out whole and got no answer may have made one.
        Error e =
            m_abandoned
                ? makeError(ErrorKind::PrintServer, "the station closed before print queue \"" +
                                                        queue + "\" said whether it took the job")
                : serverError("print queue \"" + queue + "\" did not take the job" + why);
        if (!response) {
            dropConnection();
            if (ok) e.kind = ErrorKind::Unanswered;
        }
        return e;
    }
    ipp_attribute_t* id = ippFindAttribute(response.get(), "job-id", IPP_TAG_INTEGER);
    if (id == nullptr || ippGetInteger(id, 0) <= 0) {
        return makeError(ErrorKind::Unanswered,
                         "print queue \"" + queue + "\" took the job but gave it no id");
    }
    m_figures.submitSeconds = std::chrono::duration<double>(Clock::now() - t0).count();
    return ippGetInteger(id, 0);
}

Result<JobRef> CupsPrintSurface::endDocument(const std::string& jobName, const KeepGoing& pace) {
    m_figures = SubmissionFigures{};
    // Whatever happens below, the next drawing opens a new document.
    struct Closer {
        CupsPrintSurface* s;
        ~Closer() { s->abortDocument(); }
    } closer{this};

    // Nothing drawn on the page: no job, so no blank label.
    if (!m_doc || m_doc->empty()) return JobRef{m_current ? m_current->queue : "", 0, {}};
    if (m_copies < 1) {
        return makeError(ErrorKind::Invalid,
                         "copy count " + std::to_string(m_copies) + " is below 1: nothing printed");
    }
    if (m_docError) return *m_docError;
    Result<PrinterInfo> printer = current();
    if (!printer) return printer.error();

    // A stopped queue would keep the job without printing it; one that rejects would refuse
    // it. Either way the job must wait here, where its file still is.
    if (m_docState.blocksJobs()) {
        return makeError(ErrorKind::PrintServer,
                         "print queue \"" + printer->queue + "\" is " +
                             (m_docState.accepting ? "stopped" : "not accepting jobs") + ": " +
                             describeQueueState(m_docState));
    }

    if (Result<void> finished = finishDocument(pace); !finished) return finished.error();
    Result<int> id = submit(printer->queue, jobName, pace);
    // Whatever came of it, the queue is asked again before the next job.
    m_kept->queues[printer->queue].fresh = false;
    if (!id) return id.error();
    return JobRef{printer->queue, *id, m_docNotice, jobUuid(*id)};
}

// Get-Jobs, a page at a time: cupsd answers at most 500 ended jobs per request when job
// attributes must be read from its history, and names the station's jobs by its user.
Result<std::vector<JobStatus>> CupsPrintSurface::jobs(const std::string& queue, int fromId) {
    constexpr int kPage = 500;
    const std::string uri = printerUri(queue);
    const std::string what = "cannot ask print queue \"" + queue + "\" how its jobs stand";
    std::vector<JobStatus> out;
    for (int first = std::max(fromId, 1);;) {
        auto response = ask(
            [&] {
                ipp_t* request = newRequest(IPP_OP_GET_JOBS);
                ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                             uri.c_str());
                ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr,
                             "all");
                ippAddBoolean(request, IPP_TAG_OPERATION, "my-jobs", 1);
                ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "first-job-id", first);
                ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "limit", kPage);
                requestAttributes(request, kJobAttributes);
                return request;
            },
            what);
        if (!response) return response.error();
        const ipp_status_t code = ippGetStatusCode(response->get());
        // A queue that is gone took its jobs with it.
        if (code == IPP_STATUS_ERROR_NOT_FOUND) return out;
        if (failed(code)) return serverError(what);
        const std::vector<JobStatus> page = jobsIn(response->get());
        int next = first;
        for (const JobStatus& j : page) {
            // A server that ignores first-job-id answers from its first job on.
            if (j.id >= first) out.push_back(j);
            next = std::max(next, j.id + 1);
        }
        if (int(page.size()) < kPage || next == first) return out;
        first = next;
    }
}

// A server-wide subscription to the ends of jobs (and to the server's own restarts, which
// lose events), read by polling (ippget): nothing to listen on.
Result<void> CupsPrintSurface::subscribe() {
    Kept::Subscription& sub = m_kept->subscription;
    if (!m_subscriber.empty()) {
        if (Result<void> r = cancelLeftBehind(); !r) return r;
    }
    const std::string& data = m_subscriber;
    auto response = ask(
        [&data] {
            ipp_t* request = newRequest(IPP_OP_CREATE_PRINTER_SUBSCRIPTIONS);
            ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                         kServerUri);
            const char* events[] = {"job-completed", "job-state-changed", "server-started",
                                    "server-restarted"};
            ippAddStrings(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_KEYWORD, "notify-events",
                          int(std::size(events)), nullptr, events);
            ippAddString(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_KEYWORD, "notify-pull-method",
                         nullptr, "ippget");
            ippAddInteger(request, IPP_TAG_SUBSCRIPTION, IPP_TAG_INTEGER, "notify-lease-duration",
                          kLeaseSeconds);
            if (!data.empty())
                ippAddOctetString(request, IPP_TAG_SUBSCRIPTION, "notify-user-data", data.data(),
                                  int(std::min<std::size_t>(data.size(), 63)));
            return request;
        },
        "cannot subscribe to the print server's job events");
    if (!response) return response.error();
    ipp_attribute_t* id =
        ippFindAttribute(response->get(), "notify-subscription-id", IPP_TAG_INTEGER);
    const auto now = Clock::now();
    if (failed(ippGetStatusCode(response->get())) || id == nullptr || ippGetInteger(id, 0) <= 0) {
        // Refused (a policy, too many subscriptions, no ippget): every look is a sweep.
        sub.retryAt = now + kSubscribeRetry;
        return {};
    }
    sub.id = ippGetInteger(id, 0);
    sub.anchor.reset();
    sub.renewAt = now + std::chrono::seconds(kLeaseSeconds / 2);
    return {};
}

// Subscriptions of this user that carry the station's name: an earlier run's.
Result<void> CupsPrintSurface::cancelLeftBehind() {
    auto listed = ask(
        [] {
            ipp_t* request = newRequest(IPP_OP_GET_SUBSCRIPTIONS);
            ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                         kServerUri);
            ippAddBoolean(request, IPP_TAG_OPERATION, "my-subscriptions", 1);
            requestAttributes(request, {"notify-subscription-id", "notify-user-data"});
            return request;
        },
        "cannot list the station's subscriptions to job events");
    if (!listed) return listed.error();
    std::vector<int> ours;
    int id = 0;
    std::string data;
    auto flush = [&] {
        if (id > 0 && data == m_subscriber.substr(0, 63)) ours.push_back(id);
        id = 0;
        data.clear();
    };
    for (ipp_attribute_t* a = ippFirstAttribute(listed->get()); a != nullptr;
         a = ippNextAttribute(listed->get())) {
        const char* name = ippGetName(a);
        if (name == nullptr || ippGetGroupTag(a) != IPP_TAG_SUBSCRIPTION) {
            flush();
            continue;
        }
        if (std::strcmp(name, "notify-subscription-id") == 0) id = ippGetInteger(a, 0);
        if (std::strcmp(name, "notify-user-data") == 0) {
            int length = 0;
            const void* bytes = ippGetOctetString(a, 0, &length);
            if (bytes != nullptr && length > 0)
                data.assign(static_cast<const char*>(bytes), std::size_t(length));
        }
    }
    flush();
    for (const int old : ours) {
        auto cancelled = ask(
            [old] {
                ipp_t* request = newRequest(IPP_OP_CANCEL_SUBSCRIPTION);
                ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                             kServerUri);
                ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-subscription-id",
                              old);
                return request;
            },
            "cannot cancel a subscription left behind");
        if (!cancelled) return cancelled.error();
    }
    return {};
}

Result<JobChanges> CupsPrintSurface::jobChanges() {
    Kept::Subscription& sub = m_kept->subscription;
    const auto now = Clock::now();
    if (sub.id > 0 && now >= sub.renewAt) {
        const int id = sub.id;
        auto renewed = ask(
            [id] {
                ipp_t* request = newRequest(IPP_OP_RENEW_SUBSCRIPTION);
                ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                             kServerUri);
                ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-subscription-id",
                              id);
                ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-lease-duration",
                              kLeaseSeconds);
                return request;
            },
            "cannot renew the subscription to the print server's job events");
        if (!renewed) return renewed.error();
        if (failed(ippGetStatusCode(renewed->get())))
            sub.id = 0;  // gone (expired, a server that forgot it): made again
        else
            sub.renewAt = now + std::chrono::seconds(kLeaseSeconds / 2);
    }
    if (sub.id <= 0) {
        // What happened before the subscription is not known: this look is a sweep.
        if (now >= sub.retryAt) {
            if (Result<void> r = subscribe(); !r) return r.error();
        }
        return JobChanges{};
    }
    const int id = sub.id;
    const int from = sub.anchor ? sub.anchor->seq : 1;
    auto response = ask(
        [id, from] {
            ipp_t* request = newRequest(IPP_OP_GET_NOTIFICATIONS);
            ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                         kServerUri);
            ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-subscription-ids",
                          id);
            ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "notify-sequence-numbers",
                          from);
            return request;
        },
        "cannot ask the print server what happened to its jobs");
    if (!response) return response.error();
    if (failed(ippGetStatusCode(response->get()))) {
        // A subscription the server no longer has (restarted without it, lease run out).
        sub.id = 0;
        return JobChanges{};
    }
    const std::vector<Event> events = eventsIn(response->get());
    JobChanges changes;
    changes.complete = true;
    std::size_t first = 0;
    if (sub.anchor) {
        // The event read last comes again first, unchanged, unless events were lost since:
        // the server dropped the oldest (more than it keeps), or restarted and numbers anew.
        if (events.empty() || !(events.front() == *sub.anchor))
            changes.complete = false;
        else
            first = 1;
    } else if (!events.empty() && events.front().seq != 1) {
        changes.complete = false;  // the first events already dropped
    }
    for (std::size_t i = first; i < events.size(); ++i) {
        const Event& e = events[i];
        if (e.name.starts_with("server-"))
            changes.complete = false;  // a restarted server may have lost events and jobs
        else if (e.name == "job-completed" ||
                 (e.name == "job-state-changed" &&
                  (e.jobState == IPP_JSTATE_HELD || e.jobState == IPP_JSTATE_STOPPED)))
            changes.changed.insert(e.job);
    }
    if (!events.empty()) sub.anchor = events.back();
    return changes;
}

Result<std::vector<JobStatus>> CupsPrintSurface::jobsById(const std::vector<int>& ids) {
    if (ids.empty()) return std::vector<JobStatus>{};
    const std::string what = "cannot ask the print server how jobs stand";
    auto response = ask(
        [&ids] {
            ipp_t* request = newRequest(IPP_OP_GET_JOBS);
            ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                         kServerUri);
            ippAddIntegers(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-ids", int(ids.size()),
                           ids.data());
            requestAttributes(request, kJobAttributes);
            return request;
        },
        what);
    if (!response) return response.error();
    const ipp_status_t code = ippGetStatusCode(response->get());
    // One of them unknown: none is listed, and the caller looks them up another way.
    if (code == IPP_STATUS_ERROR_NOT_FOUND) return std::vector<JobStatus>{};
    if (failed(code)) return serverError(what);
    return jobsIn(response->get());
}

}  // namespace plx
