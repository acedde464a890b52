// A journal writer of its own process, for the multi-process test: appends `count` records of one
// writer in sequence: mostly small events; every 100th a 1 MiB event ("frame.chunk" pieces, so a
// few writers pass the 24 MiB rotation quickly), every 100th offset by 25 a 40 KB frame
// ("session.frame.chunk" slices) and every other 10th a 300-byte frame ("session.frame"). Each
// record names its writer and sequence number and carries a fill whose content follows from both,
// so the reader can check it is whole.
//
//   journal_writer_process <app id> <tenant id> <writer> <count>
#include "core/HubError.h"
#include "core/JournalFolder.h"
#include "core/JournalWriter.h"

#include <QByteArray>
#include <QString>

#include <cstdio>
#include <cstdlib>

namespace
{
QByteArray fill(const QByteArray &writer, int seq, qsizetype size)
{
    const QByteArray unit = writer + '.' + QByteArray::number(seq) + ';';
    QByteArray out;
    out.reserve(size + unit.size());
    while (out.size() < size)
        out += unit;
    out.truncate(size);
    return out;
}
} // namespace

int main(int argc, char **argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s <app id> <tenant id> <writer> <count>\n", argv[0]);
        return 2;
    }
    const QString appID = QString::fromUtf8(argv[1]);
    const QString tenant = QString::fromUtf8(argv[2]);
    const QByteArray writer(argv[3]);
    const int count = std::atoi(argv[4]);
    try {
        const JournalWriter journal(JournalFolder::setUp(appID), appID, tenant);
        for (int seq = 0; seq < count; ++seq) {
            const QString w = QString::fromUtf8(writer);
            if (seq % 100 == 50) {
                journal.append(QStringLiteral("big"),
                               {{QStringLiteral("writer"), w},
                                {QStringLiteral("seq"), QString::number(seq)},
                                {QStringLiteral("fill"), QString::fromUtf8(fill(writer, seq, 1048576))}});
            } else if (seq % 100 == 75 || seq % 10 == 5) {
                // A frame of 40 KB ("session.frame.chunk" slices) or of 300 bytes ("session.frame").
                const qsizetype size = seq % 100 == 75 ? 40000 : 300;
                const QByteArray frame =
                    R"({"v":1,"ts":"2026-12-09T08:26:13Z","turnId":"turn","seq":)" + QByteArray::number(seq) +
                    R"(,"sessionId":")" + writer + R"(","tenantId":")" + tenant.toUtf8() +
                    R"(","agent":"builder","kind":"frame","payload":{"writer":")" + writer + R"(","seq":)" +
                    QByteArray::number(seq) + R"(,"fill":")" + fill(writer, seq, size) + "\"}}";
                journal.appendFrame(frame);
            } else {
                journal.append(QStringLiteral("small"),
                               {{QStringLiteral("writer"), w},
                                {QStringLiteral("seq"), QString::number(seq)},
                                {QStringLiteral("fill"), QString::fromUtf8(fill(writer, seq, 40))}});
            }
        }
    } catch (const HubError &error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
