#pragma once

#include <QString>

class QTreeWidget;
class QTreeWidgetItem;

namespace pelbrisk {

// ASCII letters lower-cased, every other character as it is: names and commands compare so.
QString AsciiLower(const QString& text);

// The folder next to `node` (none: the selected one; neither: the tree's first), among its
// siblings or, `deep`, in the tree's full depth-first order; both wrap around.
QTreeWidgetItem* StepNode(const QTreeWidget& tree, QTreeWidgetItem* node, bool backward, bool deep);

// The first folder from `start` (or the selection) on whose caption contains `text`, letters
// compared case-blind; a "/" in the text searches the whole tree. Without a match the walk comes
// back to where it began and gives that folder.
QTreeWidgetItem* SearchNode(const QTreeWidget& tree, QString text, bool stepFirst, bool deep,
                            bool backward, QTreeWidgetItem* start);

} // namespace pelbrisk
