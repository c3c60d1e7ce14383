#pragma once
// Progress values checked stage by stage. A tool's own reports move the bar inside its stage
// only when the stage lasts long enough for the tool to report, so a list of progress values
// is not fixed: the stage values are, and whatever comes between two of them rises strictly
// between them.

#include <QString>

#include <cstddef>
#include <vector>

/// Empty when `seen` holds the first `count` values of `stages` (all when count is -1) in
/// order, and every other value lies above the stage value before it, above the value seen
/// before it and below the stage value after it; else what is wrong.
inline QString StageProgressMismatch(const std::vector<int>& seen, const std::vector<int>& stages,
                                     int count = -1) {
    const std::size_t wanted = count < 0 ? stages.size() : static_cast<std::size_t>(count);
    std::size_t next = 0;
    int last = -1;
    QString listing;
    for (int value : seen)
        listing += QString::number(value) + QLatin1Char(' ');
    for (int value : seen) {
        if (next < wanted && value == stages[next]) {
            ++next;
            last = value;
            continue;
        }
        const int ceiling = next < stages.size() ? stages[next] : -1;
        if (value <= last || value >= ceiling)
            return QStringLiteral("%1 out of place in: %2").arg(value).arg(listing);
        last = value;
    }
    if (next < wanted)
        return QStringLiteral("stage value %1 missing in: %2").arg(stages[next]).arg(listing);
    return QString();
}
