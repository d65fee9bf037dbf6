#pragma once

#include "app/FilePath.h"

#include <QString>
#include <QTreeWidgetItem>
#include <vector>

namespace pelbrisk {

// Orders two captions with ASCII letters upper-cased, character by character; a prefix sorts
// first. Returns less than, equal to or greater than 0.
int CompareCaptions(const QString& a, const QString& b);

// A folder of the tree. Sorting the tree orders every level by CompareCaptions.
class TDirNode : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override;
};

// Where a node keeps its bytes: a root its folder path ("~" expanded), every other node its
// folder's name. The caption is only what the window shows of them. A root also keeps its path as
// it was given, which is what the settings file holds.
inline constexpr int kRootPathRole = Qt::UserRole;
inline constexpr int kNameRole = Qt::UserRole + 1;
inline constexpr int kRootGivenRole = Qt::UserRole + 4;

// A sub-folder node for the folder `name`, captioned as the window shows that name. `parent` may
// belong to no tree yet.
TDirNode* AddFolderNode(QTreeWidgetItem* parent, const QByteArray& name);
QByteArray NodeName(const QTreeWidgetItem* node);
TFilePath RootPath(const QTreeWidgetItem* root);
TFilePath RootGivenPath(const QTreeWidgetItem* root);

// A root as the file system knows it: "~" or "~/..." stands for the home folder.
TFilePath ExpandedRoot(const TFilePath& given);

// The root nodes in caption order, which is the order they are scanned and saved in. The tree
// owns the nodes; this list only refers to them.
class TTreeNodeList {
public:
    QTreeWidgetItem* Add(QTreeWidgetItem* node);
    bool Contains(const QTreeWidgetItem* node) const;
    QTreeWidgetItem* Items(int index) const { return nodes_.at(static_cast<size_t>(index)); }
    int Count() const { return static_cast<int>(nodes_.size()); }
    void Remove(const QTreeWidgetItem* node);

private:
    std::vector<QTreeWidgetItem*> nodes_;
};

// What a root shows: its path's last component, after one trailing "/" is removed ("/music/Jazz/"
// gives "Jazz", "/" gives "").
QString RootCaption(const TFilePath& path);

// The folder a node stands for, ending with "/": the root's path without its trailing "/", then
// the names down to the node. Empty without a node.
TFilePath NodeFolderPath(const QTreeWidgetItem* node);

} // namespace pelbrisk
