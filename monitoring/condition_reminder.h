#pragma once
// A standing condition (printer stopped, print server or folder trouble, the folder held by
// another station) is said once when it arises; in an unattended log that one line soon
// scrolls away. This repeats each condition at a low rate while it lasts, with how long it has
// lasted, and says its end once, with how long it lasted.

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "common/message.h"

namespace plx {

struct Reminder {
    Severity severity = Severity::Notice;
    Message message;
};

class ConditionReminder {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::minutes kEvery{15};

    explicit ConditionReminder(Clock::duration every = kEvery) : m_every(every) {}

    // The conditions standing now (empty: none) at `now`; returns what to say in the log:
    // a reminder for each one that has lasted another period, the end of each one gone.
    std::vector<Reminder> update(const std::vector<std::string>& conditions, Clock::time_point now);

  private:
    struct Standing {
        Clock::time_point since;
        Clock::time_point lastSaid;
    };
    Clock::duration m_every;
    std::map<std::string, Standing> m_standing;
};

}  // namespace plx
