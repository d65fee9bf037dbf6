#pragma once

#include "app/Settings.h"

#include <QObject>
#include <QString>
#include <functional>

class QTimer;

namespace pelbrisk {

// The settings file and the window: what was read at start, what the window's owners hold now
// (gathered at every save), and writing it back whenever something worth keeping changed, so that
// a session that ends without the window's close (a log-out, a signal) loses nothing.
class TSettingsBinding : public QObject {
    Q_OBJECT

public:
    explicit TSettingsBinding(QString file);
    ~TSettingsBinding() override;

    const QString& File() const { return file_; }
    // Reads the file; its values, or the defaults where it says nothing.
    const TFormSettings& Load();
    // How the window's owners put what they hold now into the settings.
    void Collect(std::function<void(TFormSettings&)> collect) { collect_ = std::move(collect); }
    // Writes the file now, replacing it as a whole in one step; false with the reason when it
    // cannot be written.
    bool Save(QString* error = nullptr);
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

    QString file_;
    // What was read, so that values no owner holds are written back as they came.
    TFormSettings settings_;
    std::function<void(TFormSettings&)> collect_;
    QTimer* pending_;
};

} // namespace pelbrisk
