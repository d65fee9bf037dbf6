#include "app/ShuffleOrder.h"

#include <algorithm>
#include <utility>

namespace pelbrisk {

void TShuffleOrder::NewRound(int current, int count, std::minstd_rand& random) {
    remaining_.resize(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        remaining_[static_cast<std::size_t>(i)] = i;
    std::shuffle(remaining_.begin(), remaining_.end(), random);
    count_ = count;
    // The first round counts the song that plays as heard; later ones only keep it from coming
    // again at once.
    if (std::exchange(fresh_, false))
        std::erase(remaining_, current);
    else if (count > 1 && remaining_.back() == current)
        std::swap(remaining_.back(), remaining_.front());
}

int TShuffleOrder::Next(int current, int count, std::minstd_rand& random,
                        const std::set<int>& skip) {
    if (count != count_) Reset();
    for (int round = 0; round < 2; ++round) {
        if (remaining_.empty()) NewRound(current, count, random);
        for (auto at = remaining_.rbegin(); at != remaining_.rend(); ++at) {
            if (skip.contains(*at)) continue;
            const int next = *at;
            remaining_.erase(std::next(at).base());
            return next;
        }
        // What is left of this round is all skipped: the next round may hold others.
        remaining_.clear();
    }
    return -1;
}

void TShuffleOrder::Played(int index) {
    std::erase(remaining_, index);
}

void TShuffleOrder::EntryDeleted(int index) {
    std::erase(remaining_, index);
    for (int& entry : remaining_)
        if (entry > index) --entry;
    if (count_ > 0) --count_;
}

} // namespace pelbrisk
