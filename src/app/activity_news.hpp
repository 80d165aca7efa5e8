#pragma once
// Which entries of the store's activity log are news: those that came since the one told last.

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "base/uuid.hpp"
#include "model/progress.hpp"

namespace velk::ActivityNews {

// The messages of the entries of `log` (newest first) that came after the entry `lastSeen`, oldest
// first; every entry when none was seen yet, and none when `lastSeen` is no longer in the log (the log
// was replaced, not added to). An error the window shows in its alert (`inAlert`) is left out: the
// alert tells it.
inline std::vector<std::string> since(const std::vector<ActivityEntry>& log, const std::optional<uuid::Bytes>& lastSeen,
                                      const std::optional<std::string>& inAlert) {
    auto end = log.end();
    if (lastSeen) {
        end = std::find_if(log.begin(), log.end(), [&](const ActivityEntry& entry) { return entry.id() == *lastSeen; });
        if (end == log.end()) return {};
    }
    std::vector<std::string> news;
    for (auto entry = std::make_reverse_iterator(end); entry != log.rend(); ++entry) {
        if (entry->isError && entry->message == inAlert) continue;
        news.push_back(entry->message);
    }
    return news;
}

} // namespace velk::ActivityNews
