#pragma once

#include "core/HubLayout.h"

#include "ui/ModelFollower.h"

#include <QObject>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QVariantMap>
#include <QtQml/qqmlregistration.h>

#include <optional>

// What the working screen shows around its sections: where each section sits in the region area,
// the placeholder without a layout, and the journal strip's two texts.
struct WorkingScreenInputs
{
    std::optional<HubLayout> layout;
    QSizeF area; // the region area's size in points
    QString message;
    bool controlsConnected = false;
    bool cloudConnected = false;
};

struct WorkingScreenView
{
    Q_GADGET
    QML_VALUE_TYPE(workingScreenView)
    Q_PROPERTY(bool layoutAvailable MEMBER layoutAvailable)
    Q_PROPERTY(QString placeholderText MEMBER placeholderText)
    Q_PROPERTY(QVariantMap frames MEMBER frames)
    Q_PROPERTY(QVariantMap stacking MEMBER stacking)
    Q_PROPERTY(QString journalScope MEMBER journalScope)
    Q_PROPERTY(QString journalSignIn MEMBER journalSignIn)

public:
    friend bool operator==(const WorkingScreenView &, const WorkingScreenView &) = default;

    bool layoutAvailable = false;
    QString placeholderText; // the status line, shown verbatim under "Layout unavailable"
    // By section id ("header", "workforce", "documents", "events"): the section's frame in the region
    // area (a QRectF) and its place in the layout's list, which orders overlapping sections. An id
    // the layout does not place is absent, and a region id that names no section is left out.
    QVariantMap frames;
    QVariantMap stacking;
    QString journalScope;  // "· Last five deltas · Tenant scoped" or "… · App-local journal"
    QString journalSignIn; // "Signed in to your Tavrilo workspace" or "Sign in to connect your workspace"
};

WorkingScreenView workingScreenView(const WorkingScreenInputs &in);
WorkingScreenInputs workingScreenInputs(const HubModel &model, QSizeF area);

// The window's WorkingScreenView, followed from the model and the region area's size:
// `WorkingScreenPresenter { model: root.model; area: Qt.size(w, h) }`.
class WorkingScreenPresenter : public ModelFollower
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QSizeF area READ area WRITE setArea NOTIFY areaChanged)
    Q_PROPERTY(WorkingScreenView view READ view NOTIFY viewChanged)

public:
    using ModelFollower::ModelFollower;

    QSizeF area() const { return m_area; }
    void setArea(QSizeF area);
    const WorkingScreenView &view() const { return m_view; }

Q_SIGNALS:
    void areaChanged();
    void viewChanged();

protected:
    void refresh() override;

private:
    QSizeF m_area;
    WorkingScreenView m_view = workingScreenView({});
};
