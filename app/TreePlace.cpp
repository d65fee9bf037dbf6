#include "app/TreePlace.h"

#include "app/TreeNodeList.h"

#include <QTreeWidget>

namespace pelbrisk {

TTreePlace::TTrail TTreePlace::TrailOf(const QTreeWidgetItem* node) {
    TTrail trail;
    for (; node->parent(); node = node->parent())
        trail.prepend(node->text(0));
    trail.prepend(node->data(0, kRootPathRole).toString());
    return trail;
}

QTreeWidgetItem* TTreePlace::Find(const QTreeWidget& tree, const TTrail& trail) {
    QTreeWidgetItem* node = nullptr;
    for (int i = 0; i < tree.topLevelItemCount() && !node; ++i)
        if (tree.topLevelItem(i)->data(0, kRootPathRole).toString() == trail.front())
            node = tree.topLevelItem(i);
    for (qsizetype step = 1; node && step < trail.size(); ++step) {
        QTreeWidgetItem* child = nullptr;
        for (int i = 0; i < node->childCount() && !child; ++i)
            if (node->child(i)->text(0) == trail[step]) child = node->child(i);
        node = child;
    }
    return node;
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
        place.expanded_.push_back(TrailOf(node));
        for (int i = 0; i < node->childCount(); ++i)
            open.push_back(node->child(i));
    }
    if (const QTreeWidgetItem* current = tree.currentItem()) place.selected_ = TrailOf(current);
    return place;
}

bool TTreePlace::Restore(QTreeWidget& tree) const {
    for (const TTrail& trail : expanded_)
        if (QTreeWidgetItem* node = Find(tree, trail)) node->setExpanded(true);
    QTreeWidgetItem* node = selected_.isEmpty() ? nullptr : Find(tree, selected_);
    if (!node) return false;
    tree.setCurrentItem(node);
    tree.scrollToItem(node);
    return true;
}

} // namespace pelbrisk
