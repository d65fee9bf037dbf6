#include "app/PositionText.h"

#include <algorithm>

namespace pelbrisk {

namespace {

QString ClockText(qint64 milliseconds) {
    const qint64 seconds = std::max<qint64>(milliseconds, 0) / 1000;
    const QString secondsText = QString("%1").arg(seconds % 60, 2, 10, QChar('0'));
    if (seconds < 3600) return QString("%1:%2").arg(seconds / 60).arg(secondsText);
    return QString("%1:%2:%3")
        .arg(seconds / 3600)
        .arg(seconds / 60 % 60, 2, 10, QChar('0'))
        .arg(secondsText);
}

} // namespace

QString PositionText(qint64 elapsedMs, qint64 totalMs) {
    return ClockText(elapsedMs) + "/" + ClockText(totalMs);
}

} // namespace pelbrisk
