// SPDX-License-Identifier: MIT
#include <hestal/hestal.h>

void QCommon::GetSuitableText(const QFontMetrics &metrics, int width, const QString &text,
                              QString &result)
{
    // Callers compare the result with the text to decide on a tip, so a text that fits must
    // come back untouched, whatever the eliding would have done with it.
    if (metrics.horizontalAdvance(text) <= width) {
        result = text;
        return;
    }
    result = metrics.elidedText(text, Qt::ElideRight, qMax(width, 0));
}
