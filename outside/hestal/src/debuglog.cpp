// SPDX-License-Identifier: MIT
#include <hestal/hestal.h>

struct CDebugLog::Private
{};

CDebugLog::CDebugLog()
    : d(new Private)
{}

CDebugLog::~CDebugLog() = default;

CDebugLog *CDebugLog::Instance()
{
    static CDebugLog instance;
    return &instance;
}

int CDebugLog::Init()
{
    return 0;
}

int CDebugLog::UnInit()
{
    return 0;
}

bool CDebugLog::Write(const QString &)
{
    return false;
}

QString CDebugLog::FilePath() const
{
    return QString();
}
