#pragma once

#include <QAbstractAnimation>
#include <QColor>
#include <QElapsedTimer>
#include <QQuickItem>
#include <QtQml/qqmlregistration.h>

// The live activity strip of the workforce section: six lanes, one per specialist seat, animated
// frame by frame. It keeps the inputs (lane mask, output rate) and the animation clock. Where the
// scene graph runs shaders, ActivityLanes.qml draws the picture with the lanes shader bound to this
// item's `time`, `activeMask` and `velocity`; on the software scene graph this item paints the same
// formula on the CPU (LanesFrame) into a texture every frame.
//
// The clock starts when the item is made, so the waves keep their phase across input changes. With
// `reducedMotion` the clock is read once per input change instead of every frame: one still picture
// per change.
class WorkspaceMetalView : public QQuickItem
{
    Q_OBJECT
    QML_NAMED_ELEMENT(LanesRenderer)
    Q_PROPERTY(int activeMask READ activeMask WRITE setActiveMask NOTIFY activeMaskChanged)
    Q_PROPERTY(float velocity READ velocity WRITE setVelocity NOTIFY velocityChanged)
    Q_PROPERTY(bool reducedMotion READ reducedMotion WRITE setReducedMotion NOTIFY reducedMotionChanged)
    Q_PROPERTY(float time READ time NOTIFY timeChanged)
    Q_PROPERTY(bool shaderSupported READ shaderSupported NOTIFY shaderSupportedChanged)
    Q_PROPERTY(QColor failureColour READ failureColour CONSTANT)
    Q_PROPERTY(qreal cornerRadius READ cornerRadius CONSTANT)

public:
    explicit WorkspaceMetalView(QQuickItem *parent = nullptr);
    ~WorkspaceMetalView() override;

    // Kept to the low six bits: lanes 0 to 5.
    int activeMask() const { return m_activeMask; }
    void setActiveMask(int mask);
    float velocity() const { return m_velocity; }
    void setVelocity(float velocity);
    bool reducedMotion() const { return m_reducedMotion; }
    void setReducedMotion(bool reduced);
    // Seconds since the item was made, read from the monotonic clock in double precision and
    // narrowed, as the shader takes it.
    float time() const { return m_time; }
    // Whether the window's scene graph runs shaders (any hardware backend, not the software one).
    bool shaderSupported() const { return m_shaderSupported; }
    // The flat colour shown when the lanes shader cannot be used on a hardware backend.
    static QColor failureColour() { return QColor::fromRgbF(0.03f, 0.1f, 0.2f); }
    static qreal cornerRadius() { return 12; }

Q_SIGNALS:
    void activeMaskChanged();
    void velocityChanged();
    void reducedMotionChanged();
    void timeChanged();
    void shaderSupportedChanged();

protected:
    void itemChange(ItemChange change, const ItemChangeData &value) override;
    QSGNode *updatePaintNode(QSGNode *old, UpdatePaintNodeData *) override;

private:
    // Ticks once per frame of the animation driver for as long as it runs.
    class Ticker : public QAbstractAnimation
    {
    public:
        explicit Ticker(WorkspaceMetalView *view) : QAbstractAnimation(view), m_view(view) {}
        int duration() const override { return -1; }

    protected:
        void updateCurrentTime(int) override;

    private:
        WorkspaceMetalView *m_view;
    };

    void readClock();
    void inputsChanged();
    void updateRunning();

    int m_activeMask = 0;
    float m_velocity = 0;
    bool m_reducedMotion = false;
    float m_time = 0;
    bool m_shaderSupported = false;
    QElapsedTimer m_clock;
    Ticker *m_ticker;
};
