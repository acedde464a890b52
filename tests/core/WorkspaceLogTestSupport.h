#pragma once

#include "core/HubError.h"
#include "core/JournalFolder.h"
#include "core/JournalLineDecoder.h"
#include "core/JournalReader.h"
#include "core/JournalWriter.h"
#include "core/WorkspaceEvent.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>

#include <unistd.h>

namespace journaltest
{
inline const QString kTenant = QStringLiteral("tenant-1");

inline QString tmpBase()
{
    char buffer[PATH_MAX];
    return QFile::decodeName(::realpath("/tmp", buffer));
}

// A fresh application id per test, so no two tests (or runs) share a journal folder; the folder is
// removed when the test ends.
class JournalFixture : public ::testing::Test
{
protected:
    JournalFixture()
        : appID(QStringLiteral("jt-%1-%2").arg(::getpid()).arg(QRandomGenerator::global()->generate64(), 0, 36)),
          directory(tmpBase() + QStringLiteral("/tavrilo/") + appID)
    {}
    ~JournalFixture() override { QDir(directory).removeRecursively(); }

    JournalFolder folder() const { return JournalFolder::setUp(appID); }
    JournalWriter writer() const { return JournalWriter(folder(), appID, kTenant); }
    JournalReader reader(JournalReader::Clock clock = {}) const
    {
        return JournalReader(folder(), appID, kTenant, std::move(clock));
    }
    QString journal() const { return directory + QStringLiteral("/events.jsonl"); }
    QString previous() const { return directory + QStringLiteral("/events.previous.jsonl"); }

    WorkspaceEvent event(QString kind, EventPayload payload = {}) const
    {
        return WorkspaceEvent{WorkspaceEvent::newID(), WorkspaceEvent::now(), appID, kTenant,
                              std::move(kind),         std::move(payload)};
    }
    // An event whose compact encoding is exactly `size` bytes (padded in one payload value).
    WorkspaceEvent eventOfSize(qsizetype size) const
    {
        WorkspaceEvent e = event(QStringLiteral("sized"), {{QStringLiteral("pad"), QString()}});
        const qsizetype base = e.encode().size();
        e.payload[QStringLiteral("pad")] = QString(size - base, QLatin1Char('x'));
        return e;
    }

    QString appID;
    QString directory;
};

// A session frame of exactly `size` bytes (padded in its payload text).
inline QByteArray frameOfSize(qsizetype size, qint64 seq = 1, const QString &tenant = kTenant)
{
    const QByteArray head = QStringLiteral(R"({"v":1,"ts":"2026-12-09T08:26:13Z","turnId":"turn-1","seq":%1,)"
                                           R"("sessionId":"session-1","tenantId":"%2","agent":"builder",)"
                                           R"("kind":"text","payload":{"text":")")
                                .arg(seq)
                                .arg(tenant)
                                .toUtf8();
    const QByteArray tail = "\"}}";
    return head + QByteArray(size - head.size() - tail.size(), 'y') + tail;
}

inline QList<QByteArray> lines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> out = file.readAll().split('\n');
    if (!out.isEmpty() && out.last().isEmpty())
        out.removeLast();
    return out;
}

inline void appendRaw(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Append));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

// Decoded with the journal's line decoder (the same result as WorkspaceEvent::decode, faster: the
// size tables decode thousands of lines, under the sanitizers too).
inline WorkspaceEvent decoded(const QByteArray &line)
{
    auto e = JournalLineDecoder().decode(std::string_view(line.constData(), size_t(line.size())));
    EXPECT_TRUE(e.has_value()) << line.left(200).toStdString();
    return e.value_or(WorkspaceEvent{});
}

// The sentence of the HubError `fn` throws, or "no error".
template <typename Fn> QString sentenceOf(Fn &&fn)
{
    try {
        fn();
    } catch (const HubError &error) {
        return error.description();
    }
    return QStringLiteral("no error");
}
} // namespace journaltest
