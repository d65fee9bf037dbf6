// The window's side of its workers: folder scans and play-list fills wait their turn here and run
// on the library worker behind the loading panel, and the send mode's commands run on the remote
// worker, so that the window's thread goes on painting and answering meanwhile.
#include "app/FolderScan.h"
#include "app/KeyBuffer.h"
#include "app/MainForm.h"

#include <QLabel>
#include <QTimer>

namespace pelbrisk {

bool TMainForm::LibraryBusy() const {
    return libraryWork_ != nullptr || !pendingLibraryJobs_.empty();
}

void TMainForm::CancelLibraryWork() {
    pendingLibraryJobs_.clear();
    if (libraryWork_) libraryWork_->Cancelled = true;
}

void TMainForm::QueueLibraryJob(std::function<void()> start) {
    pendingLibraryJobs_.push_back(std::move(start));
    if (!libraryWork_) StartNextLibraryJob();
}

void TMainForm::StartNextLibraryJob() {
    // A job that finds nothing to do starts no work, and the next one follows at once.
    while (!libraryWork_ && !pendingLibraryJobs_.empty()) {
        const std::function<void()> start = std::move(pendingLibraryJobs_.front());
        pendingLibraryJobs_.pop_front();
        start();
    }
    if (!libraryWork_) keyBuffer_->Replay();
}

void TMainForm::StartLibraryWork(const QString& unit, TLibraryWork work) {
    auto progress = std::make_shared<TScanProgress>();
    libraryWork_ = progress;
    libraryWorkUnit_ = unit;
    ShowLoading();
    loadingTimer_->start();
    libraryWorker_->Post([this, progress, work = std::move(work)] {
        std::function<void()> finish = work(*progress);
        QMetaObject::invokeMethod(
            this,
            [this, progress, finish] {
                if (!progress->Cancelled && finish) finish();
                EndLibraryWork();
            },
            Qt::QueuedConnection);
    });
}

void TMainForm::EndLibraryWork() {
    loadingTimer_->stop();
    libraryWork_.reset();
    HideLoading();
    StartNextLibraryJob();
}

void TMainForm::ShowLoadingProgress() {
    if (!libraryWork_) return;
    LoadingPanel->setText(QString("読み込み中  %1 %2  (Esc)")
                              .arg(libraryWork_->Count.load(std::memory_order_relaxed))
                              .arg(libraryWorkUnit_));
}

void TMainForm::SendToOtherPlayers(std::function<bool(TOtherAppCtrl&)> command) {
    TOtherAppCtrl* players = OtherApp.get();
    remoteWorker_->Post([this, players, command = std::move(command)] {
        const bool accepted = command(*players);
        QMetaObject::invokeMethod(
            this,
            [this, accepted] {
                NoticeUnlessAccepted(accepted);
                emit OtherPlayersAnswered(accepted);
            },
            Qt::QueuedConnection);
    });
}

} // namespace pelbrisk
