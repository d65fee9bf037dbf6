#include "app/TreeNodeList.h"

#include <algorithm>

namespace pelbrisk {

namespace {
char16_t AsciiUpper(QChar c) {
    const char16_t code = c.unicode();
    return code >= u'a' && code <= u'z' ? static_cast<char16_t>(code - (u'a' - u'A')) : code;
}
} // namespace

int CompareCaptions(const QString& a, const QString& b) {
    const qsizetype common = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < common; ++i) {
        const char16_t left = AsciiUpper(a[i]);
        const char16_t right = AsciiUpper(b[i]);
        if (left != right) return left < right ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool TDirNode::operator<(const QTreeWidgetItem& other) const {
    return CompareCaptions(text(0), other.text(0)) < 0;
}

TDirNode* AddFolderNode(QTreeWidgetItem* parent, const QByteArray& name) {
    auto* node = new TDirNode(parent, QStringList{DisplayName(name)});
    node->setData(0, kNameRole, name);
    return node;
}

QByteArray NodeName(const QTreeWidgetItem* node) {
    return node->data(0, kNameRole).toByteArray();
}

TFilePath RootPath(const QTreeWidgetItem* root) {
    return TFilePath(root->data(0, kRootPathRole).toByteArray());
}

TFilePath RootGivenPath(const QTreeWidgetItem* root) {
    return TFilePath(root->data(0, kRootGivenRole).toByteArray());
}

TFilePath ExpandedRoot(const TFilePath& given) {
    const QByteArray& bytes = given.Bytes();
    if (bytes != "~" && !bytes.startsWith("~/")) return given;
    QByteArray home = qgetenv("HOME");
    if (home.isEmpty()) return given;
    if (home.endsWith('/') && bytes.size() > 1) home.chop(1);
    return TFilePath(home + bytes.mid(1));
}

QTreeWidgetItem* TTreeNodeList::Add(QTreeWidgetItem* node) {
    nodes_.push_back(node);
    std::stable_sort(nodes_.begin(), nodes_.end(), [](const auto* a, const auto* b) {
        return CompareCaptions(a->text(0), b->text(0)) < 0;
    });
    return node;
}

bool TTreeNodeList::Contains(const QTreeWidgetItem* node) const {
    return node && std::find(nodes_.begin(), nodes_.end(), node) != nodes_.end();
}

void TTreeNodeList::Remove(const QTreeWidgetItem* node) {
    nodes_.erase(std::remove(nodes_.begin(), nodes_.end(), node), nodes_.end());
}

QString RootCaption(const TFilePath& path) {
    return DisplayName(path.FileName());
}

TFilePath NodeFolderPath(const QTreeWidgetItem* node) {
    if (!node) return {};
    QByteArrayList names;
    for (; node->parent(); node = node->parent())
        names.prepend(NodeName(node));
    TFilePath path = RootPath(node).WithoutTrailingSlash();
    for (const QByteArray& name : names)
        path = path.Child(name);
    return TFilePath(path.Bytes() + '/');
}

} // namespace pelbrisk
