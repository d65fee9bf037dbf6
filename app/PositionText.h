#pragma once

#include <QString>

namespace pelbrisk {

// "elapsed/total" as m:ss, or h:mm:ss from an hour on; negative times count as 0.
QString PositionText(qint64 elapsedMs, qint64 totalMs);

} // namespace pelbrisk
