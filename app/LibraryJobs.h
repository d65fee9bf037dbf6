#pragma once

#include "app/FolderScan.h"

#include <QObject>
#include <QString>
#include <deque>
#include <functional>
#include <memory>

class QLabel;
class QTimer;
class QWidget;

namespace pelbrisk {

class TFocusKeeper;
class TKeyBuffer;
class TWorkerThread;

// The library's worker and its queue: folder scans, play-list fills and folder listings run there
// one at a time, in the order they were asked for, behind the loading panel. Keys typed meanwhile
// wait and are handed on afterwards; Esc gives the work up. A job carries what it was asked about;
// its result is taken on the window's thread, where its owner drops what no longer fits.
class TLibraryJobs : public QObject {
public:
    // Runs on the window's thread once the work is done, unless the job was cancelled.
    using TFinish = std::function<void()>;
    // Runs on the worker; touches no control. Returns the finish, or nothing to take.
    using TWork = std::function<TFinish(TScanProgress&)>;

    // Keys typed while a job runs go to `keyHome` afterwards when no control has the focus.
    TLibraryJobs(QWidget& window, QLabel& loadingPanel, TFocusKeeper& focus, QWidget& keyHome);
    ~TLibraryJobs() override;

    // `unit` names what the loading panel counts while the job runs.
    void Queue(const QString& unit, TWork work);
    // A job runs or waits.
    bool Busy() const;
    // Drops the job that runs and those that wait: the window is given back at once, even while
    // the worker is still caught in the disk.
    void Cancel();
    // Lets `garbage` go on the worker, after the work queued so far (freeing a large tree takes a
    // while).
    void DisposeOnWorker(std::shared_ptr<void> garbage);

private:
    struct TJob {
        QString Unit;
        TWork Work;
    };
    struct TReplyGate;

    void StartNext();
    void Finished(const std::shared_ptr<TScanProgress>& progress, const TFinish& finish);
    void ShowLoading();
    void HideLoading();
    void ShowProgress();

    QWidget& window_;
    QLabel& loadingPanel_;
    TFocusKeeper& focus_;
    TKeyBuffer* keyBuffer_;
    QTimer* progressTimer_;
    std::deque<TJob> waiting_;
    std::shared_ptr<TScanProgress> running_;
    QString runningUnit_;
    std::shared_ptr<TReplyGate> gate_;
    std::unique_ptr<TWorkerThread> worker_;
};

} // namespace pelbrisk
