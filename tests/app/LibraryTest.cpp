// The folder tree's order and paths, and listing the files of a folder.
#include "app/FolderScan.h"
#include "app/TreeNodeList.h"
#include "tests/support/Paths.h"

#include <QTreeWidget>
#include <fstream>
#include <gtest/gtest.h>

namespace pelbrisk {
namespace {

namespace fs = std::filesystem;

QString ToQ(const fs::path& path) {
    return QString::fromStdString(path.string());
}

TFilePath At(const fs::path& path, const char* end = "") {
    return TFilePath(path.string() + end);
}

QStringList Texts(const std::vector<TFilePath>& paths) {
    QStringList texts;
    for (const TFilePath& path : paths)
        texts << path.Display();
    return texts;
}

void Touch(const fs::path& path) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "x";
}

QStringList Captions(const QTreeWidgetItem* parent) {
    QStringList captions;
    for (int i = 0; i < parent->childCount(); ++i)
        captions << parent->child(i)->text(0);
    return captions;
}

TEST(CaptionOrder, IgnoresAsciiCaseAndPutsPrefixesFirst) {
    EXPECT_EQ(CompareCaptions("jazz", "JAZZ"), 0);
    EXPECT_LT(CompareCaptions("abc", "ABD"), 0);
    EXPECT_GT(CompareCaptions("b", "A"), 0);
    EXPECT_LT(CompareCaptions("Rock", "rock live"), 0);
    EXPECT_GT(CompareCaptions("rock live", "Rock"), 0);
    EXPECT_LT(CompareCaptions("", "a"), 0);
    // Upper-casing decides: '_' (0x5F) sorts after 'Z' but before 'a' would without folding.
    EXPECT_GT(CompareCaptions("_x", "zz"), 0);
    EXPECT_LT(CompareCaptions("Z", "_"), 0);
    EXPECT_LT(CompareCaptions("z", "_"), 0);
    // Only ASCII letters fold.
    EXPECT_NE(CompareCaptions("é", "É"), 0);
}

TEST(TreeNodeList, AddKeepsTheRootsInCaptionOrder) {
    QTreeWidget tree;
    TTreeNodeList roots;
    for (const char* caption : {"rock", "Jazz", "ambient", "Pop"})
        roots.Add(new TDirNode(&tree, QStringList{caption}));
    ASSERT_EQ(roots.Count(), 4);
    QStringList order;
    for (int i = 0; i < roots.Count(); ++i)
        order << roots.Items(i)->text(0);
    EXPECT_EQ(order, QStringList({"ambient", "Jazz", "Pop", "rock"}));

    QTreeWidgetItem* jazz = roots.Items(1);
    EXPECT_TRUE(roots.Contains(jazz));
    roots.Remove(jazz);
    EXPECT_FALSE(roots.Contains(jazz));
    EXPECT_FALSE(roots.Contains(nullptr));
    EXPECT_EQ(roots.Count(), 3);
    EXPECT_EQ(roots.Items(1)->text(0), "Pop");
}

TEST(TreeNodeList, EqualCaptionsKeepTheOrderTheyCameIn) {
    QTreeWidget tree;
    TTreeNodeList roots;
    auto* first = roots.Add(new TDirNode(&tree, QStringList{"Music"}));
    auto* second = roots.Add(new TDirNode(&tree, QStringList{"music"}));
    EXPECT_EQ(roots.Items(0), first);
    EXPECT_EQ(roots.Items(1), second);
}

TEST(TreeSort, SortsEveryLevelCaseBlind) {
    QTreeWidget tree;
    auto* root = new TDirNode(&tree, QStringList{"root"});
    for (const char* caption : {"b", "C", "a"})
        new TDirNode(root, QStringList{caption});
    auto* inner = root->child(0);
    for (const char* caption : {"Zulu", "alpha", "Mike"})
        new TDirNode(inner, QStringList{caption});
    tree.sortItems(0, Qt::AscendingOrder);
    EXPECT_EQ(Captions(root), QStringList({"a", "b", "C"}));
    EXPECT_EQ(Captions(inner), QStringList({"alpha", "Mike", "Zulu"}));
}

TEST(RootCaption, IsTheLastComponent) {
    EXPECT_EQ(RootCaption(TFilePath(QByteArray("/data/Music/"))), "Music");
    EXPECT_EQ(RootCaption(TFilePath(QByteArray("/data/Music"))), "Music");
    EXPECT_EQ(RootCaption(TFilePath(QByteArray("/"))), "");
    EXPECT_EQ(RootCaption(TFilePath(QByteArray("Music"))), "Music");
    EXPECT_EQ(RootCaption(TFilePath(QByteArray("/data/Music//"))), "");
}

TEST(NodeFolderPath, JoinsTheRootPathAndCaptionsAndEndsWithASlash) {
    QTreeWidget tree;
    auto* root = new TDirNode(&tree, QStringList{"Music"});
    root->setData(0, kRootPathRole, QByteArray("/data/Music/"));
    auto* live = AddFolderNode(AddFolderNode(root, "Rock"), "Live");
    EXPECT_EQ(NodeFolderPath(live).Bytes(), "/data/Music/Rock/Live/");
    EXPECT_EQ(NodeFolderPath(root).Bytes(), "/data/Music/");
    EXPECT_TRUE(NodeFolderPath(nullptr).IsEmpty());

    auto* top = new TDirNode(&tree, QStringList{""});
    top->setData(0, kRootPathRole, QByteArray("/"));
    EXPECT_EQ(NodeFolderPath(top).Bytes(), "/");
    EXPECT_EQ(NodeFolderPath(AddFolderNode(top, "srv")).Bytes(), "/srv/");
}

TEST(Mp3Name, MatchesTheLastExtensionInAnyCase) {
    EXPECT_TRUE(IsMp3FileName("a.mp3"));
    EXPECT_TRUE(IsMp3FileName("A.MP3"));
    EXPECT_TRUE(IsMp3FileName("x.wav.Mp3"));
    EXPECT_TRUE(IsMp3FileName(".mp3"));
    EXPECT_FALSE(IsMp3FileName("a.mp3.wav"));
    EXPECT_FALSE(IsMp3FileName("a.mp32"));
    EXPECT_FALSE(IsMp3FileName("mp3"));
    EXPECT_FALSE(IsMp3FileName("a.mp"));
}

class FolderListing : public ::testing::Test {
protected:
    void SetUp() override {
        Touch(dir_ / "B.mp3");
        Touch(dir_ / "a.MP3");
        Touch(dir_ / "C.Mp3");
        Touch(dir_ / "cover.jpg");
        Touch(dir_ / "notes");
        Touch(dir_ / "Sub" / "d.mp3");
        Touch(dir_ / "Sub" / "Deeper" / "e.mp3");
        Touch(dir_ / "Sub" / "readme.txt");
        fs::create_directories(dir_ / "folder.mp3");
    }
    QString Path(const std::string& name) const { return ToQ(dir_ / name); }

    test::TempDir dir_;
};

TEST_F(FolderListing, ListsTheFolderMp3FilesSortedWithoutRegardToCase) {
    EXPECT_EQ(Texts(ListFolderFiles(At(dir_.Path()), false, false)),
              QStringList({Path("a.MP3"), Path("B.mp3"), Path("C.Mp3")}));
    // A trailing slash, as the tree's folder paths have, names the same folder.
    EXPECT_EQ(Texts(ListFolderFiles(At(dir_.Path(), "/"), false, false)),
              Texts(ListFolderFiles(At(dir_.Path()), false, false)));
}

TEST_F(FolderListing, RecursiveListingTakesEverySubFolder) {
    EXPECT_EQ(Texts(ListFolderFiles(At(dir_.Path()), true, false)),
              QStringList({Path("a.MP3"), Path("B.mp3"), Path("C.Mp3"), Path("Sub/d.mp3"),
                           Path("Sub/Deeper/e.mp3")}));
}

TEST_F(FolderListing, EveryFileModeListsFilesOfAnyType) {
    EXPECT_EQ(Texts(ListFolderFiles(At(dir_.Path()), false, true)),
              QStringList(
                  {Path("a.MP3"), Path("B.mp3"), Path("C.Mp3"), Path("cover.jpg"), Path("notes")}));
    EXPECT_EQ(ListFolderFiles(At(dir_.Path()), true, true).size(), 8);
}

TEST_F(FolderListing, FollowsLinksButNotInCircles) {
    fs::create_directory_symlink(dir_.Path(), dir_ / "Sub" / "Deeper" / "loop");
    fs::create_symlink(dir_ / "B.mp3", dir_ / "linked.mp3");
    fs::create_symlink(dir_ / "missing.mp3", dir_ / "broken.mp3");
    const QStringList files = Texts(ListFolderFiles(At(dir_.Path()), true, false));
    EXPECT_TRUE(files.contains(Path("linked.mp3")));
    EXPECT_FALSE(files.contains(Path("broken.mp3")));
    EXPECT_EQ(files.size(), 6);

    QTreeWidget tree;
    auto* root = new TDirNode(&tree, QStringList{"root"});
    ScanFolders(At(dir_.Path()), root);
    tree.sortItems(0, Qt::AscendingOrder);
    ASSERT_EQ(Captions(root), QStringList({"folder.mp3", "Sub"}));
    const QTreeWidgetItem* deeper = root->child(1)->child(0);
    ASSERT_EQ(Captions(deeper), QStringList({"loop"}));
    EXPECT_EQ(deeper->child(0)->childCount(), 0) << "the loop is shown but not entered";
}

TEST_F(FolderListing, FolderHasMp3LooksAtTheFolderItselfOnly) {
    EXPECT_TRUE(FolderHasMp3(At(dir_.Path())));
    EXPECT_TRUE(FolderHasMp3(At(dir_ / "Sub", "/")));
    test::TempDir onlySubFolders;
    Touch(onlySubFolders / "inner" / "x.mp3");
    Touch(onlySubFolders / "x.mp3.txt");
    EXPECT_FALSE(FolderHasMp3(At(onlySubFolders.Path())));
    EXPECT_FALSE(FolderHasMp3(At(dir_ / "missing")));
}

TEST_F(FolderListing, UnreadableFoldersGiveNothing) {
    EXPECT_TRUE(ListFolderFiles(At(dir_ / "missing"), true, true).empty());
    QTreeWidget tree;
    auto* root = new TDirNode(&tree, QStringList{"missing"});
    ScanFolders(At(dir_ / "missing"), root);
    EXPECT_EQ(root->childCount(), 0);
}

TEST_F(FolderListing, ScanAddsEveryFolderDepthFirst) {
    QTreeWidget tree;
    auto* root = new TDirNode(&tree, QStringList{"root"});
    ScanFolders(At(dir_.Path(), "/"), root);
    tree.sortItems(0, Qt::AscendingOrder);
    EXPECT_EQ(Captions(root), QStringList({"folder.mp3", "Sub"}));
    EXPECT_EQ(Captions(root->child(1)), QStringList({"Deeper"}));
    EXPECT_EQ(root->child(1)->child(0)->childCount(), 0);
}

} // namespace
} // namespace pelbrisk
