// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

// A certificate authority and a server certificate for 127.0.0.1 signed by it, written as PEM
// files into a directory, so that tests can serve HTTPS that a verifying client accepts once it
// trusts caFile.
struct TestCertificates
{
    QString caFile;
    QString certFile;
    QString keyFile;
};

bool makeTestCertificates(const QString &dir, TestCertificates &out);
