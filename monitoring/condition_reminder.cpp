#include "monitoring/condition_reminder.h"

#include <set>

#include "monitoring/time_text.h"

namespace plx {
namespace {

std::string lasted(ConditionReminder::Clock::duration d) {
    return spanText(std::chrono::duration_cast<std::chrono::seconds>(d).count());
}

}  // namespace

std::vector<Reminder> ConditionReminder::update(const std::vector<std::string>& conditions,
                                                Clock::time_point now) {
    std::vector<Reminder> said;
    const std::set<std::string> current(conditions.begin(), conditions.end());
    for (auto it = m_standing.begin(); it != m_standing.end();) {
        if (current.count(it->first) != 0) {
            ++it;
            continue;
        }
        said.push_back({Severity::Notice, Message(PLX_TR("Station", "%1: over after %2"),
                                                  {it->first, lasted(now - it->second.since)})});
        it = m_standing.erase(it);
    }
    for (const std::string& c : current) {
        if (c.empty()) continue;
        auto [it, arose] = m_standing.try_emplace(c, Standing{now, now});
        // Said by the station itself when it arises; repeated from the first period on.
        if (arose || now - it->second.lastSaid < m_every) continue;
        it->second.lastSaid = now;
        said.push_back({Severity::Warning, Message(PLX_TR("Station", "%1 (for %2 now)"),
                                                   {c, lasted(now - it->second.since)})});
    }
    return said;
}

}  // namespace plx
