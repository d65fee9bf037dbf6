#include "app/LibraryJobs.h"

#include "app/FocusKeeper.h"
#include "app/KeyBuffer.h"
#include "app/WorkerThread.h"

#include <QLabel>
#include <QTimer>
#include <QWidget>
#include <mutex>

namespace pelbrisk {

namespace {
const QString kLoadingCaption = QStringLiteral("読み込み中");
} // namespace

// How a worker hands its result back: only while the jobs object stands. An abandoned worker may
// come back from the disk long after the window has gone.
struct TLibraryJobs::TReplyGate {
    explicit TReplyGate(TLibraryJobs* receiver) : Receiver(receiver) {}
    std::mutex Mutex;
    TLibraryJobs* Receiver;
};

TLibraryJobs::TLibraryJobs(QWidget& window, QLabel& loadingPanel, TFocusKeeper& focus,
                           QWidget& keyHome)
    : window_(window), loadingPanel_(loadingPanel), focus_(focus),
      keyBuffer_(new TKeyBuffer(
          &window, &keyHome, [this] { return Busy(); }, [this] { Cancel(); })),
      progressTimer_(new QTimer(this)), gate_(std::make_shared<TReplyGate>(this)),
      worker_(std::make_unique<TWorkerThread>()) {
    progressTimer_->setInterval(100);
    connect(progressTimer_, &QTimer::timeout, this, &TLibraryJobs::ShowProgress);
}

TLibraryJobs::~TLibraryJobs() {
    delete keyBuffer_;
    {
        const std::lock_guard lock(gate_->Mutex);
        gate_->Receiver = nullptr;
    }
    if (running_) running_->Cancelled = true;
    // Quitting does not wait for a scan that may be stuck on a hung mount.
    worker_->Abandon();
}

void TLibraryJobs::Queue(const QString& unit, TWork work) {
    waiting_.push_back({unit, std::move(work)});
    if (!running_) StartNext();
}

bool TLibraryJobs::Busy() const {
    return running_ != nullptr || !waiting_.empty();
}

void TLibraryJobs::StartNext() {
    if (running_) return;
    if (waiting_.empty()) {
        keyBuffer_->Replay();
        return;
    }
    TJob job = std::move(waiting_.front());
    waiting_.pop_front();
    auto progress = std::make_shared<TScanProgress>();
    running_ = progress;
    runningUnit_ = job.Unit;
    ShowLoading();
    worker_->Post([gate = gate_, progress, work = std::move(job.Work)] {
        TFinish finish = work(*progress);
        const std::lock_guard lock(gate->Mutex);
        if (!gate->Receiver) return;
        QMetaObject::invokeMethod(
            gate->Receiver,
            [receiver = gate->Receiver, progress, finish = std::move(finish)] {
                receiver->Finished(progress, finish);
            },
            Qt::QueuedConnection);
    });
}

void TLibraryJobs::Finished(const std::shared_ptr<TScanProgress>& progress, const TFinish& finish) {
    // A cancelled job was let go already.
    if (progress != running_) return;
    if (finish) finish();
    running_.reset();
    HideLoading();
    StartNext();
}

void TLibraryJobs::Cancel() {
    waiting_.clear();
    if (!running_) return;
    running_->Cancelled = true;
    running_.reset();
    // The worker may be caught in a folder that never answers: later jobs get a worker of their
    // own, and this one ends whenever its work does.
    worker_->Abandon();
    worker_ = std::make_unique<TWorkerThread>();
    HideLoading();
    StartNext();
}

void TLibraryJobs::DisposeOnWorker(std::shared_ptr<void> garbage) {
    worker_->Post([garbage = std::move(garbage)]() mutable { garbage.reset(); });
}

void TLibraryJobs::ShowLoading() {
    focus_.Hold();
    window_.setEnabled(false);
    loadingPanel_.setText(kLoadingCaption);
    loadingPanel_.raise();
    loadingPanel_.show();
    progressTimer_->start();
}

void TLibraryJobs::HideLoading() {
    progressTimer_->stop();
    loadingPanel_.hide();
    window_.setEnabled(true);
    focus_.GiveBack();
}

void TLibraryJobs::ShowProgress() {
    if (!running_) return;
    loadingPanel_.setText(QString("%1  %2 %3  (Esc)")
                              .arg(kLoadingCaption)
                              .arg(running_->Count.load(std::memory_order_relaxed))
                              .arg(runningUnit_));
}

} // namespace pelbrisk
