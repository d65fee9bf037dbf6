#include "app/TreePlace.h"

#include "app/TreeNodeList.h"

#include <QTreeWidget>

namespace pelbrisk {

TFolderTrail TFolderTrail::Of(const QTreeWidgetItem* node) {
    TFolderTrail trail;
    for (; node->parent(); node = node->parent())
        trail.Names.prepend(NodeName(node));
    trail.Root = RootPath(node);
    return trail;
}

QTreeWidgetItem* TFolderTrail::Find(const QTreeWidget& tree) const {
    QTreeWidgetItem* node = nullptr;
    for (int i = 0; i < tree.topLevelItemCount() && !node; ++i)
        if (RootPath(tree.topLevelItem(i)) == Root) node = tree.topLevelItem(i);
    for (const QByteArray& name : Names) {
        QTreeWidgetItem* child = nullptr;
        for (int i = 0; node && i < node->childCount() && !child; ++i)
            if (NodeName(node->child(i)) == name) child = node->child(i);
        node = child;
    }
    return node;
}

QByteArray SubFolderPrefix(const TFilePath& root) {
    const QByteArray path = root.Cleaned().Bytes();
    return path.endsWith('/') ? path : path + '/';
}

QTreeWidgetItem* FolderNode(const QTreeWidget& tree, const TFilePath& folder) {
    const QByteArray wanted = folder.Cleaned().Bytes();
    for (int i = 0; i < tree.topLevelItemCount(); ++i) {
        const TFilePath root = RootPath(tree.topLevelItem(i));
        if (wanted == root.Cleaned().Bytes()) return tree.topLevelItem(i);
        const QByteArray prefix = SubFolderPrefix(root);
        if (!wanted.startsWith(prefix)) continue;
        TFolderTrail trail{root, wanted.mid(prefix.size()).split('/')};
        if (QTreeWidgetItem* node = trail.Find(tree)) return node;
    }
    return nullptr;
}

TTreePlace TTreePlace::Take(const QTreeWidget& tree) {
    TTreePlace place;
    std::vector<const QTreeWidgetItem*> open;
    for (int i = 0; i < tree.topLevelItemCount(); ++i)
        open.push_back(tree.topLevelItem(i));
    // Only the open branches are walked: what lies in a closed one is out of sight anyway.
    while (!open.empty()) {
        const QTreeWidgetItem* node = open.back();
        open.pop_back();
        if (!node->isExpanded()) continue;
        place.expanded_.push_back(TFolderTrail::Of(node));
        for (int i = 0; i < node->childCount(); ++i)
            open.push_back(node->child(i));
    }
    if (const QTreeWidgetItem* current = tree.currentItem())
        place.selected_ = TFolderTrail::Of(current);
    return place;
}

TTreePlace TTreePlace::Selecting(TFolderTrail folder) {
    TTreePlace place;
    place.expanded_.push_back(folder);
    place.selected_ = std::move(folder);
    return place;
}

bool TTreePlace::Restore(QTreeWidget& tree) const {
    for (const TFolderTrail& trail : expanded_)
        if (QTreeWidgetItem* node = trail.Find(tree)) node->setExpanded(true);
    QTreeWidgetItem* node = selected_ ? selected_->Find(tree) : nullptr;
    if (!node) return false;
    tree.setCurrentItem(node);
    tree.scrollToItem(node);
    return true;
}

} // namespace pelbrisk
