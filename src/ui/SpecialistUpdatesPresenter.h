#pragma once

#include "live/EventProjection.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QtQml/qqmlregistration.h>

#include <limits>
#include <optional>

// One specialist's newest update.
struct SpecialistUpdate
{
    Q_GADGET
    QML_VALUE_TYPE(specialistUpdate)
    Q_PROPERTY(QString agent MEMBER agent)
    Q_PROPERTY(QString displayName MEMBER displayName)
    Q_PROPERTY(bool showToggle MEMBER showToggle)
    Q_PROPERTY(bool expanded MEMBER expanded)
    Q_PROPERTY(QString toggleText MEMBER toggleText)
    Q_PROPERTY(QString accessibleName MEMBER accessibleName)
    Q_PROPERTY(QString accessibleValue MEMBER accessibleValue)
    Q_PROPERTY(QString body MEMBER body)
    Q_PROPERTY(int bodyLineLimit MEMBER bodyLineLimit)

public:
    bool operator==(const SpecialistUpdate &) const = default;

    static constexpr int kNoLineLimit = std::numeric_limits<int>::max();
    static constexpr qsizetype kExcerptCharacters = 420;

    QString agent; // raw agent id, the key of the view's set of opened updates
    QString displayName;
    bool showToggle = false; // only for a non-empty response
    bool expanded = false;
    QString toggleText;      // "Collapse" or "Full update"
    QString accessibleName;  // "Collapse <short name> update" or "Read full <short name> update"
    QString accessibleValue; // "Expanded" or "Collapsed"
    QString body;            // the full response while open, else its excerpt
    int bodyLineLimit = 3;   // kNoLineLimit while open
};

// The specialist updates block; it shows only when some response arrived.
struct SpecialistUpdates
{
    Q_GADGET
    QML_VALUE_TYPE(specialistUpdates)
    Q_PROPERTY(bool visible MEMBER visible)
    Q_PROPERTY(QString header MEMBER header)

public:
    bool operator==(const SpecialistUpdates &) const = default;

    bool visible = false;
    QString header; // "… · UNVERIFIED CLAIMS" after a failed review, else "… · ATTRIBUTED CLAIMS"
    QList<SpecialistUpdate> updates; // reach the view as `GatesPresenter::updateRows`, row by row
};

namespace updaterules
{
// The newest responders first: three while the section is expanded ("events"), else one.
QStringList shownAgents(const QStringList &responseOrder, const QString &expandedInspector);
SpecialistUpdate update(const EventProjection &projection, const QString &agent,
                        const QSet<QString> &expandedResponseOwners);
} // namespace updaterules

SpecialistUpdates specialistUpdates(const EventProjection &projection, const QString &expandedInspector,
                                    const QSet<QString> &expandedResponseOwners);

// The thinking disclosure's header and which body it shows. The reasoning text itself is the
// projection's blocks in order, joined with nothing between them.
struct ThinkingDisclosure
{
    Q_GADGET
    QML_VALUE_TYPE(thinkingDisclosure)
    Q_PROPERTY(bool open MEMBER open)
    Q_PROPERTY(QString chevronSymbol MEMBER chevronSymbol)
    Q_PROPERTY(QString caption MEMBER caption)
    Q_PROPERTY(bool overrideOnPress MEMBER overrideOnPress)
    Q_PROPERTY(bool showEmptyText MEMBER showEmptyText)
    Q_PROPERTY(bool showReasoning MEMBER showReasoning)
    Q_PROPERTY(bool viewportHeightFixed MEMBER viewportHeightFixed)

public:
    bool operator==(const ThinkingDisclosure &) const = default;

    static constexpr int kViewportHeight = 190; // exact off screen, the most in the window

    bool open = false;
    QString chevronSymbol;        // "chevron.down" open, "chevron.right" closed
    QString caption;              // "2 typed blocks · scroll to read", "No reasoning blocks"
    bool overrideOnPress = false; // what pressing the header stores as the view's override
    bool showEmptyText = false;   // "No reasoning content received."
    bool showReasoning = false;
    bool viewportHeightFixed = false;
};

// Open by the view's override once the operator chose, else while the section is expanded.
bool thinkingOpen(std::optional<bool> thinkingOverride, const QString &expandedInspector);
ThinkingDisclosure thinkingDisclosure(qsizetype reasoningBlocks, std::optional<bool> thinkingOverride,
                                      const QString &expandedInspector, bool offscreenExport);
