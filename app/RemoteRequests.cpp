// What other programs ask of the window over MPRIS beyond its buttons: open a file, the order
// toggles, and quitting.
#include "app/FolderScan.h"
#include "app/MainForm.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QToolButton>
#include <QTreeWidget>

namespace pelbrisk {

namespace {

QTreeWidgetItem* ChildCaptioned(QTreeWidgetItem* parent, const QString& caption) {
    for (int i = 0; i < parent->childCount(); ++i)
        if (parent->child(i)->text(0) == caption) return parent->child(i);
    return nullptr;
}

} // namespace

QTreeWidgetItem* TMainForm::FolderNode(const QString& folder) const {
    const QString wanted = QDir::cleanPath(folder);
    for (int i = 0; i < rootNodes_.Count(); ++i) {
        QTreeWidgetItem* node = rootNodes_.Items(i);
        const QString root = QDir::cleanPath(node->data(0, kRootPathRole).toString());
        if (wanted == root) return node;
        const QString prefix = root.endsWith('/') ? root : root + '/';
        if (!wanted.startsWith(prefix)) continue;
        for (const QString& caption : wanted.mid(prefix.size()).split('/')) {
            node = ChildCaptioned(node, caption);
            if (!node) break;
        }
        if (node) return node;
    }
    return nullptr;
}

QString TMainForm::OpenFile(const QString& path) {
    const QFileInfo file(path);
    if (!file.isFile()) return "no such file: " + path;
    if (!IsMp3FileName(file.fileName())) return path + ": not an .mp3 file";
    try {
        TMP3Info info;
        TMP3Player::ReadFileInfo(QFile::encodeName(file.absoluteFilePath()).toStdString(), info);
    } catch (...) {
        return path + ": " + QString::fromLocal8Bit(ExceptionText(std::current_exception()));
    }
    // The folder is listed on the library worker; the file plays once the list shows it.
    const QString wanted = QDir::cleanPath(file.absoluteFilePath());
    const auto playWanted = [this, wanted] {
        for (int row = 0; row < PlayFileList->count(); ++row) {
            QListWidgetItem* entry = PlayFileList->item(row);
            if (QDir::cleanPath(entry->data(kEntryPathRole).toString()) != wanted) continue;
            PlayFileList->setCurrentItem(entry);
            PlaySelected();
            return;
        }
    };
    if (QTreeWidgetItem* node = FolderNode(file.absolutePath()))
        DirTree->setCurrentItem(node);
    else
        DirTree->clearSelection();
    FillPlayList(false, playWanted, file.absolutePath() + '/');
    return {};
}

bool TMainForm::RepeatAll() const {
    return RepeatAllBtn->isChecked();
}

void TMainForm::SetRepeatAll(bool on) {
    RepeatAllBtn->setChecked(on);
}

bool TMainForm::Shuffle() const {
    return RandomBtn->isChecked();
}

void TMainForm::SetShuffle(bool on) {
    RandomBtn->setChecked(on);
}

void TMainForm::Quit() {
    // After the answer has gone back to the caller.
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

} // namespace pelbrisk
