#pragma once

#include "core/WorkspaceEvent.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

// One journal event as the local journal block shows it: a headline and a one-line detail, both
// made of fixed vocabulary only (known kinds and their titles, role ids, listed tool names and
// statuses, counts). No other text of an event ever reaches them.
struct JournalEntry
{
    Q_GADGET
    QML_VALUE_TYPE(journalEntry)
    Q_PROPERTY(QString headline MEMBER headline)
    Q_PROPERTY(QString detail MEMBER detail)

public:
    QString headline;
    QString detail;

    bool operator==(const JournalEntry &) const = default;
};

// A shown row of the block: the entry of the event whose id is `id`.
struct JournalRow
{
    Q_GADGET
    QML_VALUE_TYPE(journalRow)
    Q_PROPERTY(QString id MEMBER id)
    Q_PROPERTY(QString headline MEMBER headline)
    Q_PROPERTY(QString detail MEMBER detail)

public:
    bool operator==(const JournalRow &) const = default;

    QString id;
    QString headline;
    QString detail;
};

// The "LOCAL JOURNAL" block: its header's count text and the newest rows, newest first.
struct JournalBlock
{
    Q_GADGET
    QML_VALUE_TYPE(journalBlock)
    Q_PROPERTY(QString countText MEMBER countText)
    Q_PROPERTY(QVariantList rows READ rowValues)

public:
    bool operator==(const JournalBlock &) const = default;

    QString countText; // "Last 5 deltas · No cloud evidence inferred"
    QList<JournalRow> rows;

    QVariantList rowValues() const;
};

class NativeJournalPresentation
{
public:
    using Entry = JournalEntry;

    // Limits: JSON text is parsed only up to this many UTF-8 bytes; token counts are shown only up
    // to this value; the detail keeps at most this many user-perceived characters.
    static constexpr qsizetype kMaxParsedBytes = 4096;
    static constexpr double kMaxTokens = 1'000'000'000;
    static constexpr qsizetype kMaxDetailCharacters = 240;
    static constexpr qsizetype kShownRows = 5;

    // Pure, never fails: unparsable or oversized input only says less.
    static Entry make(const QString &kind, const EventPayload &payload);

    // The block for `events` in arrival order: the newest kShownRows, newest first.
    static JournalBlock block(const QList<WorkspaceEvent> &events);

    // Detail lines joined with " · ", cut after kMaxDetailCharacters user-perceived characters
    // without an ellipsis and never inside one.
    static QString detail(const QStringList &lines);

    // The title of a known kind; empty for an unknown one.
    static QString title(const QString &kind);
};
