#pragma once

#include <QQuickPaintedItem>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

class QPainter;

// The dispatch drawing of a parallel round: a path from the dispatch point (top left) to each
// working specialist's lane, a dashed path from each lane on to the reconciliation point (bottom
// right), and dots where they meet. Lanes are seat indexes from 1, in a row of six equal slots.
class DispatchDrawing : public QQuickPaintedItem
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QVariantList lanes READ lanes WRITE setLanes NOTIFY lanesChanged)

public:
    explicit DispatchDrawing(QQuickItem *parent = nullptr);

    const QVariantList &lanes() const { return m_lanes; }
    void setLanes(const QVariantList &lanes);

    void paint(QPainter *painter) override;
    // The drawing at `width` by `height`, for the item and its tests.
    static void draw(QPainter &painter, const QList<int> &lanes, double width, double height);

Q_SIGNALS:
    void lanesChanged();

private:
    QVariantList m_lanes;
};
