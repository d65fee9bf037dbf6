#include "app/SettingsBinding.h"

namespace pelbrisk {

TSettingsBinding::TSettingsBinding(QString file) : file_(std::move(file)) {}

const TFormSettings& TSettingsBinding::Load() {
    settings_ = TFormSettings();
    LoadSettingsFile(file_, settings_);
    return settings_;
}

bool TSettingsBinding::Save(QString* error) {
    if (collect_) collect_(settings_);
    return SaveSettingsFile(file_, settings_, error);
}

} // namespace pelbrisk
