#include "app/TreeSearch.h"

#include <QTreeWidget>
#include <algorithm>
#include <iterator>
#include <utility>

namespace pelbrisk {

namespace {

bool CaptionContains(const QTreeWidgetItem* node, const QString& foldedText) {
    return SearchFolded(node->text(0)).contains(foldedText);
}

bool IsAscii(const QString& text) {
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
}

// Latin letters that no decomposition takes apart.
constexpr std::pair<char16_t, const char16_t*> kWrittenAsTwo[] = {
    {u'æ', u"ae"}, {u'œ', u"oe"}, {u'ø', u"o"}, {u'ß', u"ss"}, {u'ð', u"d"},
    {u'þ', u"th"}, {u'đ', u"d"},  {u'ł', u"l"}, {u'ı', u"i"},
};

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

QString SearchFolded(const QString& text) {
    // Most names are plain ASCII; they need no more than this.
    if (IsAscii(text)) return AsciiLower(text);
    const QString decomposed = text.normalized(QString::NormalizationForm_KD).toCaseFolded();
    QString folded;
    folded.reserve(decomposed.size());
    for (const QChar c : decomposed) {
        // The accents of Latin, Greek and Cyrillic letters; the marks of other scripts (kana's
        // voicing marks) tell words apart and stay.
        if (c.unicode() >= 0x0300 && c.unicode() <= 0x036F) continue;
        const auto* two = std::find_if(std::begin(kWrittenAsTwo), std::end(kWrittenAsTwo),
                                       [c](const auto& entry) { return entry.first == c; });
        if (two != std::end(kWrittenAsTwo))
            folded += QString::fromUtf16(two->second);
        else
            folded += c;
    }
    return folded;
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

    const QString foldedText = SearchFolded(text);
    if (CaptionContains(node, foldedText)) return node;
    for (QTreeWidgetItem* at = StepNode(tree, node, backward, deepMode); at != node;
         at = StepNode(tree, at, backward, deepMode))
        if (CaptionContains(at, foldedText)) return at;
    return nullptr;
}

} // namespace pelbrisk
