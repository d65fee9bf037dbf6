#pragma once

#include <vector>

namespace pelbrisk {

// The play-list entries that played in random order, newest last, so that Back can walk back
// through them. Indexes follow the list when entries are deleted.
class TPlayHistory {
public:
    void Push(int index);
    // The newest entry, taken out; -1 when there is none.
    int Pop();
    bool Empty() const { return entries_.empty(); }
    void Clear() { entries_.clear(); }
    // The entry at `index` is gone from the list: it leaves the history, later ones move up.
    void EntryDeleted(int index);

private:
    std::vector<int> entries_;
};

} // namespace pelbrisk
