#pragma once

#include "app/Settings.h"

#include <QObject>
#include <QString>
#include <functional>
#include <optional>

class QTimer;

namespace pelbrisk {

// The settings file and the window: what was read at start, what the window's owners hold now
// (gathered at every save), and writing it back whenever something worth keeping changed, so that
// a session that ends without the window's close (a log-out, a signal) loses nothing. The file is
// the user's too: what someone changed in it while pelbrisk ran is read again before each write
// and kept, where the window did not change that value itself.
class TSettingsBinding : public QObject {
    Q_OBJECT

public:
    explicit TSettingsBinding(QString file);
    ~TSettingsBinding() override;

    const QString& File() const { return file_; }
    // Reads the file; its values, or the defaults where it says nothing.
    const TFormSettings& Load();
    // How the window's owners put what they hold now into the settings; a value they leave alone
    // keeps what the file holds. A file that was not there is written now, so that the user
    // finds it where the window says it is.
    void Bind(std::function<void(TFormSettings&)> collect);
    // Writes the file now, replacing it as a whole in one step; false with the reason when it
    // cannot be written.
    bool Save(QString* error = nullptr);
    // Reads the file again. When it changed since pelbrisk last read or wrote it, `take` gets what
    // the file and the window's own changes make together, for the window to take on, and that is
    // written; false when the file is as it was.
    bool TakeFileChanges(const std::function<void(const TFormSettings&)>& take);
    // Something worth keeping changed: the file is written shortly, once for a burst of changes.
    void Changed();
    // SIGTERM, SIGINT and SIGHUP write the file and then ask the program to end (QuitRequested).
    // Once per process.
    void SaveOnQuitSignals();

signals:
    // A write that nobody waited for failed.
    void SaveFailed(const QString& reason);
    // A signal asked the program to end; the settings are written already.
    void QuitRequested();

private:
    void SaveNow();
    TFormSettings Collected() const;
    // The file as it is on disk now, and whether someone other than pelbrisk changed it.
    TFormSettings OnDisk(const std::optional<QString>& text) const;
    bool Write(const TFormSettings& settings, const std::optional<QString>& kept, QString* error);

    QString file_;
    TFormSettings loaded_;
    // What the window held when the file was last read or written: a value that differs from
    // it now is the window's change.
    TFormSettings windowThen_;
    // The file as pelbrisk last read or wrote it, and its text then.
    TFormSettings written_;
    std::optional<QString> writtenText_;
    std::function<void(TFormSettings&)> collect_;
    QTimer* pending_;
};

} // namespace pelbrisk
