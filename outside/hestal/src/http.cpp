// SPDX-License-Identifier: MIT
#include <hestal/hestal.h>

struct CHttp::Private
{
    QByteArray body;
};

CHttp::CHttp()
    : d(new Private)
{}

CHttp::~CHttp() = default;

void CHttp::InitData()
{
    d->body.clear();
}

void CHttp::setTimeOut(int, int, int) {}

HTTP_ERROR CHttp::GetInfo(const QString &, const QStringList &)
{
    return HTTP_ERROR_TRANSFER;
}

QString CHttp::GetResult()
{
    return QString::fromUtf8(d->body);
}

HTTP_ERROR CHttp::DownloadFile(const QString &, const DonwloadFileParam &)
{
    return HTTP_ERROR_TRANSFER;
}

long CHttp::GetStatusCode() const
{
    return 0;
}

QString CHttp::GetErrorText() const
{
    return QString();
}

void CHttp::SetExtraCaFile(const QString &) {}
