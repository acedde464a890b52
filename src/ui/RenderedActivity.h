#pragma once

#include <QPointer>
#include <QQuickPaintedItem>
#include <QtQml/qqmlregistration.h>

class HubModel;

// The lanes as the headless export pre-rendered them (the model's activity image), stretched over
// the item and cut to its rounded corners. Stands in for the animated lanes in exported frames.
class RenderedActivity : public QQuickPaintedItem
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(HubModel *model READ model WRITE setModel NOTIFY modelChanged)
    Q_PROPERTY(qreal radius READ radius WRITE setRadius NOTIFY radiusChanged)

public:
    explicit RenderedActivity(QQuickItem *parent = nullptr);

    HubModel *model() const;
    void setModel(HubModel *model);
    qreal radius() const { return m_radius; }
    void setRadius(qreal radius);

    void paint(QPainter *painter) override;

Q_SIGNALS:
    void modelChanged();
    void radiusChanged();

private:
    QPointer<HubModel> m_model;
    QMetaObject::Connection m_imageChanged;
    qreal m_radius = 0;
};
