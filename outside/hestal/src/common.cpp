// SPDX-License-Identifier: MIT
#include <hestal/hestal.h>

void QCommon::GetSuitableText(const QFontMetrics &metrics, int width, const QString &text,
                              QString &result)
{
    result = text;
    (void)metrics;
    (void)width;
}
