#include "cups/cups_surface_shared.h"

#include <algorithm>
#include <cstring>

namespace plx {

using namespace ipp;

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
        auto cancelled = ask([old] { return subscriptionRequest(IPP_OP_CANCEL_SUBSCRIPTION, old); },
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
                ipp_t* request = subscriptionRequest(IPP_OP_RENEW_SUBSCRIPTION, id);
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
