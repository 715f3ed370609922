// SPDX-License-Identifier: MIT
#include <qrl/qrl.h>

namespace qrl {

struct DPrintLog::Private
{
    std::string path;
};

DPrintLog::DPrintLog()
    : d(new Private)
{}

DPrintLog::~DPrintLog() = default;

DPrintLog *DPrintLog::instance()
{
    static DPrintLog log;
    return &log;
}

int DPrintLog::Log(const char *, int, const char *, const char *, int, const char *, ...)
{
    return -1;
}

void DPrintLog::SetFilePath(const std::string &path)
{
    d->path = path;
}

std::string DPrintLog::FilePath() const
{
    return d->path;
}

} // namespace qrl
