#pragma once

#include <QStringList>
#include <vector>

class QTreeWidget;
class QTreeWidgetItem;

namespace pelbrisk {

// Where the user stands in the folder tree: the selected folder and the open ones, held by
// their paths so that they are found again in the nodes of a new scan.
class TTreePlace {
public:
    static TTreePlace Take(const QTreeWidget& tree);
    // Opens again what was open and selects what was selected, as far as it still exists; true
    // when the selected folder was found.
    bool Restore(QTreeWidget& tree) const;

private:
    // A root's path, then the captions down to the node.
    using TTrail = QStringList;
    static TTrail TrailOf(const QTreeWidgetItem* node);
    static QTreeWidgetItem* Find(const QTreeWidget& tree, const TTrail& trail);

    std::vector<TTrail> expanded_;
    TTrail selected_;
};

} // namespace pelbrisk
