#pragma once

#include "core/Json.h"
#include "project/NativeProjectHands.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include <unistd.h>

// A project folder of its own, with a folder outside it, and project calls run through the real
// NativeProjectHands.
class ProjectFixture : public ::testing::Test
{
public:
    void SetUp() override
    {
        ASSERT_TRUE(m_temporary.isValid());
        m_base = QFileInfo(m_temporary.path()).canonicalFilePath();
        ASSERT_TRUE(QDir(m_base).mkpath(QStringLiteral("project")));
        ASSERT_TRUE(QDir(m_base).mkpath(QStringLiteral("outside")));
        m_root = m_base + QStringLiteral("/project");
        m_outside = m_base + QStringLiteral("/outside");
    }

    const QString &root() const { return m_root; }
    const QString &outside() const { return m_outside; }
    QString at(const QString &relative) const { return m_root + u'/' + relative; }

    void write(const QString &relative, const QByteArray &bytes) const { testsupport::writeFile(at(relative), bytes); }
    QByteArray contents(const QString &relative) const { return testsupport::readFile(at(relative)); }
    void link(const QString &relative, const QString &target) const
    {
        QDir().mkpath(QFileInfo(at(relative)).absolutePath());
        ASSERT_EQ(::symlink(target.toUtf8().constData(), at(relative).toUtf8().constData()), 0)
            << relative.toStdString();
    }

    NativeProjectHands &hands()
    {
        if (!m_hands)
            m_hands = std::make_unique<NativeProjectHands>(m_root);
        return *m_hands;
    }

public:
    static double nowMs()
    {
        using namespace std::chrono;
        return double(duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
    }

    static Json call(const char *tool, Json input, double deadlineFromNow = 60000)
    {
        // `{}` makes a JSON null; a call's input is an object.
        if (input.is_null())
            input = Json::object();
        return Json{{"tool", tool}, {"input", std::move(input)}, {"deadline", nowMs() + deadlineFromNow}};
    }

protected:
    NativeProjectHands::Answer run(const QByteArray &encoded, const QString &agent = QStringLiteral("tavrilo_builder"),
                                   std::chrono::milliseconds timeout = std::chrono::seconds(30))
    {
        return testsupport::awaitFor(hands().execute(encoded, agent), timeout);
    }
    NativeProjectHands::Answer run(const Json &payload, const QString &agent = QStringLiteral("tavrilo_builder"))
    {
        return run(json::dump(payload), agent);
    }

private:
    QTemporaryDir m_temporary;
    QString m_base;
    QString m_root;
    QString m_outside;
    std::unique_ptr<NativeProjectHands> m_hands;
};
