#include "app/TreeSearch.h"

#include <QTreeWidget>

namespace pelbrisk {

namespace {

bool CaptionContains(const QTreeWidgetItem* node, const QString& lowerText) {
    return AsciiLower(node->text(0)).contains(lowerText);
}

QTreeWidgetItem* LastDescendant(QTreeWidgetItem* node) {
    while (node->childCount() > 0)
        node = node->child(node->childCount() - 1);
    return node;
}

} // namespace

QString AsciiLower(const QString& text) {
    QString lower = text;
    for (QChar& c : lower)
        if (c >= 'A' && c <= 'Z') c = QChar(c.unicode() + ('a' - 'A'));
    return lower;
}

QTreeWidgetItem* StepNode(const QTreeWidget& tree, QTreeWidgetItem* node, bool backward,
                          bool deep) {
    if (!node) node = tree.currentItem();
    if (!node) return tree.topLevelItem(0);

    if (!deep) {
        QTreeWidgetItem* parent = node->parent();
        const int count = parent ? parent->childCount() : tree.topLevelItemCount();
        const int index = parent ? parent->indexOfChild(node) : tree.indexOfTopLevelItem(node);
        const int step = backward ? (index + count - 1) % count : (index + 1) % count;
        return parent ? parent->child(step) : tree.topLevelItem(step);
    }

    const int roots = tree.topLevelItemCount();
    if (backward) {
        QTreeWidgetItem* parent = node->parent();
        const int index = parent ? parent->indexOfChild(node) : tree.indexOfTopLevelItem(node);
        if (index > 0)
            return LastDescendant(parent ? parent->child(index - 1) : tree.topLevelItem(index - 1));
        if (parent) return parent;
        return LastDescendant(tree.topLevelItem(roots - 1));
    }
    if (node->childCount() > 0) return node->child(0);
    for (QTreeWidgetItem* at = node; at; at = at->parent()) {
        QTreeWidgetItem* parent = at->parent();
        const int count = parent ? parent->childCount() : roots;
        const int index = parent ? parent->indexOfChild(at) : tree.indexOfTopLevelItem(at);
        if (index + 1 < count)
            return parent ? parent->child(index + 1) : tree.topLevelItem(index + 1);
    }
    return tree.topLevelItem(0);
}

QTreeWidgetItem* SearchNode(const QTreeWidget& tree, QString text, bool stepFirst, bool deep,
                            bool backward, QTreeWidgetItem* start) {
    bool deepMode = deep;
    if (!deep && text.contains('/')) {
        text.remove('/');
        deepMode = true;
    }
    QTreeWidgetItem* node = start;
    if (stepFirst) node = StepNode(tree, node, backward, deepMode);
    if (!node) node = tree.currentItem();
    if (!node) node = tree.topLevelItem(0);
    if (!node) return nullptr;

    const QString lowerText = AsciiLower(text);
    if (CaptionContains(node, lowerText)) return node;
    for (QTreeWidgetItem* at = StepNode(tree, node, backward, deepMode); at != node;
         at = StepNode(tree, at, backward, deepMode))
        if (CaptionContains(at, lowerText)) return at;
    return node;
}

} // namespace pelbrisk
