#include "cups/ipp_decode.h"

#include <cups/cups.h>

#include <cmath>
#include <cstring>
#include <string_view>

#include "cups/ipp_decisions.h"

namespace plx::ipp {

namespace {

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

std::string joined(const std::vector<std::string>& words) {
    std::string out;
    for (const std::string& w : words) out += (out.empty() ? "" : ", ") + w;
    return out;
}

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

int integerIn(ipp_t* collection, const char* name) {
    ipp_attribute_t* a = ippFindAttribute(collection, name, IPP_TAG_INTEGER);
    return a != nullptr ? ippGetInteger(a, 0) : 0;
}

}  // namespace

std::string stringOf(ipp_t* response, const char* name) {
    ipp_attribute_t* a = ippFindAttribute(response, name, IPP_TAG_ZERO);
    const char* s = a != nullptr ? ippGetString(a, 0, nullptr) : nullptr;
    return s != nullptr ? s : "";
}

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

int configTimeOf(ipp_t* r) {
    ipp_attribute_t* a = ippFindAttribute(r, "printer-config-change-time", IPP_TAG_INTEGER);
    return a != nullptr ? ippGetInteger(a, 0) : -1;
}

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

}  // namespace plx::ipp
