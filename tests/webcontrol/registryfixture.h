// SPDX-License-Identifier: MIT
// Each case gets its own registry file, and runs the registration tool as a host would.
#pragma once

#include "platform/registry.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

struct ToolRun
{
    int exitCode;
    std::string out;
    std::string err;
};

inline ToolRun runTool(const QString &program, const QStringList &args)
{
    QProcess p;
    // Copies of the module elsewhere find the platform libraries beside the built one.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LD_LIBRARY_PATH"),
               QFileInfo(QStringLiteral(TESSEL_MODULE)).absolutePath());
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return {-1, {}, "timed out"};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            p.readAllStandardOutput().toStdString(), p.readAllStandardError().toStdString()};
}

inline ToolRun regsvr(const QStringList &args)
{
    return runTool(QStringLiteral(REGSVR_PROGRAM), args);
}

// The subtree as the tool prints it, or "" when the key is missing.
inline std::string exported(const std::string &key)
{
    std::string text;
    platform::exportRegistryKey(HKEY_CLASSES_ROOT, key, &text);
    return text;
}

class RegistryFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_path = m_dir.filePath(QStringLiteral("registry.sqlite")).toStdString();
        setenv("PLATFORM_REGISTRY", m_path.c_str(), 1);
    }
    void TearDown() override { unsetenv("PLATFORM_REGISTRY"); }

    QTemporaryDir m_dir;
    std::string m_path;
};
