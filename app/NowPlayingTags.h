#pragma once

#include "app/MprisService.h"
#include "app/WorkerThread.h"

#include <QImage>
#include <QObject>
#include <QString>
#include <atomic>
#include <memory>
#include <string>

namespace pelbrisk {

// The tags and cover of the song being heard, read on a thread of their own: a song on a slow
// disk, or one whose cover has to be written to the cache first, never holds the window. Until
// the read of a file is done, its tags are its name alone.
class TNowPlayingTags : public QObject {
    Q_OBJECT

public:
    explicit TNowPlayingTags(QString artCacheFolder);

    // The tags of `path` as far as they are read; a file other than the last one asked for is
    // read from now on.
    const TNowPlaying& Of(const std::string& path);
    // The cover of the file asked for last, once read (null without one); until then the one
    // before, so that songs of one album do not make the window hide and show it in between.
    const QImage& Cover() const { return cover_; }

signals:
    // The file asked for last is read: Of() and Cover() give all there is.
    void Read();

private:
    void Take(const TNowPlaying& tags, const QImage& cover);

    QString artCacheFolder_;
    // Counts the files asked for; a read waiting behind a later one's is skipped.
    std::shared_ptr<std::atomic<unsigned>> asked_ = std::make_shared<std::atomic<unsigned>>(0);
    TNowPlaying tags_;
    QImage cover_;
    // Last, so that it ends first: its reads call back into this object.
    TWorkerThread reader_;
};

} // namespace pelbrisk
