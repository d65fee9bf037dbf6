#include "app/PlayHistory.h"

#include <algorithm>

namespace pelbrisk {

namespace {
// Enough to walk back through an evening; a list that plays for days does not grow without end.
constexpr std::size_t kLongestHistory = 1000;
} // namespace

void TPlayHistory::Push(int index) {
    if (index < 0) return;
    if (entries_.size() == kLongestHistory) entries_.erase(entries_.begin());
    entries_.push_back(index);
}

int TPlayHistory::Pop() {
    if (entries_.empty()) return -1;
    const int newest = entries_.back();
    entries_.pop_back();
    return newest;
}

void TPlayHistory::EntryDeleted(int index) {
    std::erase(entries_, index);
    for (int& entry : entries_)
        if (entry > index) --entry;
}

} // namespace pelbrisk
