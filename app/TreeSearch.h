#pragma once

#include <QString>

class QTreeWidget;
class QTreeWidgetItem;

namespace pelbrisk {

// ASCII letters lower-cased, every other character as it is: commands compare so.
QString AsciiLower(const QString& text);

// A name as the search compares it: without accents and case, and with the letters that are
// written as two in plain Latin so written ("Ágætis" gives "agaetis", "Straße" "strasse").
QString SearchFolded(const QString& text);

// The folder next to `node` (none: the selected one; neither: the tree's first), among its
// siblings or, `deep`, in the tree's full depth-first order; both wrap around.
QTreeWidgetItem* StepNode(const QTreeWidget& tree, QTreeWidgetItem* node, bool backward, bool deep);

// The first folder from `start` (or the selection) on whose caption contains `text`, compared as
// SearchFolded gives them; a "/" in the text searches the whole tree. None when no caption
// matches (the walk has come back to where it began).
QTreeWidgetItem* SearchNode(const QTreeWidget& tree, QString text, bool stepFirst, bool deep,
                            bool backward, QTreeWidgetItem* start);

} // namespace pelbrisk
