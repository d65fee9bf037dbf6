#pragma once

#include "app/Settings.h"

#include <QObject>
#include <QString>
#include <functional>

namespace pelbrisk {

// The settings file and the window: what was read at start, what the window's owners hold now
// (gathered at every save), and writing it all back.
class TSettingsBinding : public QObject {
    Q_OBJECT

public:
    explicit TSettingsBinding(QString file);

    const QString& File() const { return file_; }
    // Reads the file; its values, or the defaults where it says nothing.
    const TFormSettings& Load();
    // How the window's owners put what they hold now into the settings.
    void Collect(std::function<void(TFormSettings&)> collect) { collect_ = std::move(collect); }
    // Writes the file now; false with the reason when it cannot be written.
    bool Save(QString* error = nullptr);

private:
    QString file_;
    // What was read, so that values no owner holds are written back as they came.
    TFormSettings settings_;
    std::function<void(TFormSettings&)> collect_;
};

} // namespace pelbrisk
