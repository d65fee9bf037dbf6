#pragma once

#include <random>
#include <set>
#include <vector>

namespace pelbrisk {

// Random play in rounds: every entry of the list once, in a shuffled order, before any comes
// again. Each round has a new order, and none begins with the entry that ended the one before.
class TShuffleOrder {
public:
    // The list changed as a whole, or random play was turned on: a new round begins at the next
    // step, and the entry that plays then has had its turn in it.
    void Reset() {
        remaining_.clear();
        fresh_ = true;
    }
    // The entry to play after `current` in a list of `count`, none of `skip` (-1 when every entry
    // is skipped).
    int Next(int current, int count, std::minstd_rand& random, const std::set<int>& skip = {});
    // The entry plays, chosen or stepped to: it has had its turn in this round.
    void Played(int index);
    // The entry at `index` left the list; the ones after it move up.
    void EntryDeleted(int index);

private:
    void NewRound(int current, int count, std::minstd_rand& random);

    // This round's entries still to come, the next one last.
    std::vector<int> remaining_;
    int count_ = 0;
    bool fresh_ = true;
};

} // namespace pelbrisk
