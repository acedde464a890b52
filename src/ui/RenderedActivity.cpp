#include "ui/RenderedActivity.h"

#include "session/HubModel.h"

#include <QPainter>
#include <QPainterPath>

RenderedActivity::RenderedActivity(QQuickItem *parent) : QQuickPaintedItem(parent)
{
    setAntialiasing(true);
}

HubModel *RenderedActivity::model() const
{
    return m_model;
}

void RenderedActivity::setModel(HubModel *model)
{
    if (m_model == model)
        return;
    disconnect(m_imageChanged);
    m_model = model;
    if (model)
        m_imageChanged = connect(model, &HubModel::renderedActivityChanged, this, [this] { update(); });
    update();
    Q_EMIT modelChanged();
}

void RenderedActivity::setRadius(qreal radius)
{
    if (qFuzzyCompare(m_radius, radius))
        return;
    m_radius = radius;
    update();
    Q_EMIT radiusChanged();
}

void RenderedActivity::paint(QPainter *painter)
{
    if (!m_model || m_model->renderedActivity().isNull())
        return;
    const QRectF bounds(0, 0, width(), height());
    QPainterPath clip;
    clip.addRoundedRect(bounds, m_radius, m_radius);
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    painter->setClipPath(clip);
    painter->drawImage(bounds, m_model->renderedActivity());
}
