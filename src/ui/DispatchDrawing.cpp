#include "ui/DispatchDrawing.h"

#include "ui/Palette.h"

#include <QPainter>
#include <QPainterPath>

DispatchDrawing::DispatchDrawing(QQuickItem *parent) : QQuickPaintedItem(parent)
{
    setAntialiasing(true);
}

void DispatchDrawing::setLanes(const QVariantList &lanes)
{
    if (m_lanes == lanes)
        return;
    m_lanes = lanes;
    Q_EMIT lanesChanged();
    update();
}

void DispatchDrawing::paint(QPainter *painter)
{
    QList<int> lanes;
    for (const QVariant &lane : std::as_const(m_lanes))
        lanes.append(lane.toInt());
    draw(*painter, lanes, width(), height());
}

void DispatchDrawing::draw(QPainter &painter, const QList<int> &lanes, double w, double h)
{
    const QPointF dispatch(w / 12, 2);
    const double laneY = 0.46 * h;
    const QPointF reconcile(w - 4, h - 3);

    QColor dispatchColour = Palette::green();
    dispatchColour.setAlphaF(0.85F);
    const QPen dispatchPen(dispatchColour, 1);
    QPen reconcilePen(Palette::muted(), 1, Qt::CustomDashLine, Qt::FlatCap, Qt::MiterJoin);
    reconcilePen.setDashPattern({3, 3});
    reconcilePen.setMiterLimit(10);

    const auto dot = [&painter](QPointF centre, const QColor &colour) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        painter.drawEllipse(centre, 2, 2);
        painter.setBrush(Qt::NoBrush);
    };

    for (const int lane : lanes) {
        const double x = w * (lane + 0.5) / 6;
        QPainterPath out(dispatch);
        out.cubicTo(QPointF(w / 12, laneY), QPointF(x, 0), QPointF(x, laneY));
        painter.setPen(dispatchPen);
        painter.drawPath(out);

        QPainterPath back(QPointF(x, laneY));
        back.cubicTo(QPointF(x, h), QPointF(w - 4, laneY), reconcile);
        painter.setPen(reconcilePen);
        painter.drawPath(back);

        dot(QPointF(x, laneY), Palette::green());
    }
    dot(dispatch, Palette::green());
    dot(reconcile, Palette::muted());
}
