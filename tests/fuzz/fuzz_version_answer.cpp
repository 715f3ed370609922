// SPDX-License-Identifier: MIT
// Feeds arbitrary bodies to the reader of the upgrade server's answer. Beyond the sanitizers it
// checks what the reader promises: a successful read yields only modules with an id, an address
// and an icon address, in state 0, with a finite size, after whatever the list held before.
#include "versionquery.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString body
        = QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<int>(size));
    QVector<ModuleVersion> list(1);
    list[0].strId = "kept";
    const VersionQuery::AnswerResult result = VersionQuery::readVersionAnswer(body, list);

    if (list.isEmpty() || list.at(0).strId != "kept")
        std::abort();
    for (int i = 1; i < list.size(); ++i) {
        const ModuleVersion &m = list.at(i);
        if (m.strId.isEmpty() || m.strUrl.isEmpty() || m.strIconUrl.isEmpty() || m.nState != 0
            || !std::isfinite(m.dSize))
            std::abort();
    }
    if (result == VersionQuery::AnswerResult::NotJson && list.size() != 1)
        std::abort();
    return 0;
}
