#pragma once

#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QProcess>

#include <gtest/gtest.h>

// Starts the journal writer of another process that takes the exclusive lock of `folder`'s journal
// and keeps it until its standard input is closed; returns once it holds the lock.
inline void startLockHolder(QProcess &holder, const QString &folder)
{
    holder.start(QCoreApplication::applicationDirPath() + "/journal_lock_holder", {folder});
    ASSERT_TRUE(holder.waitForStarted(5000));
    QByteArray said;
    ASSERT_TRUE(testsupport::waitUntil(
        [&] {
            said += holder.readAllStandardOutput();
            return said.contains("locked");
        },
        10s))
        << said.toStdString();
}
