#include "ui/WorkspaceMetalView.h"

#include "ui/LanesFrame.h"

#include <QQuickWindow>
#include <QSGImageNode>
#include <QSGRendererInterface>
#include <QSGTexture>

#include <algorithm>
#include <cmath>
#include <memory>

namespace
{
// The CPU picture: an image node showing a texture that this node owns; each frame brings a new
// texture, and the one it replaces is no longer shown.
class PictureNode : public QSGNode
{
public:
    explicit PictureNode(QSGImageNode *image) : m_image(image) { appendChildNode(image); }
    ~PictureNode() override
    {
        // The image node goes first: it must never point at a texture already deleted.
        removeChildNode(m_image);
        delete m_image;
    }

    void show(QSGTexture *texture, const QRectF &rect)
    {
        m_image->setTexture(texture);
        m_image->setRect(rect);
        m_texture.reset(texture);
    }

private:
    QSGImageNode *m_image;
    std::unique_ptr<QSGTexture> m_texture;
};

// The rounded frame of the view, as shaders/roundedCorners.frag cuts it: coverage at each pixel
// centre, in points, against the nearest point of the inner rectangle, with an antialiased edge one
// point wide.
void roundCorners(QImage &image, float radius, float scale)
{
    const float width = float(image.width()) / scale;
    const float height = float(image.height()) / scale;
    const int reach = std::min({int(std::ceil((radius + 0.5f) * scale)), image.width(), image.height()});
    auto cover = [&](int x, int y) {
        const float px = (float(x) + 0.5f) / scale;
        const float py = (float(y) + 0.5f) / scale;
        const float nx = std::clamp(px, radius, std::max(radius, width - radius));
        const float ny = std::clamp(py, radius, std::max(radius, height - radius));
        const float coverage = std::clamp(radius + 0.5f - std::hypot(px - nx, py - ny), 0.0f, 1.0f);
        uchar *pixel = image.scanLine(y) + size_t(x) * 4;
        for (int c = 0; c < 4; ++c)
            pixel[c] = uchar(float(pixel[c]) * coverage + 0.5f);
    };
    // Only the corner squares: everywhere else the coverage is whole.
    for (int y = 0; y < image.height(); ++y) {
        if (y >= reach && y < image.height() - reach)
            continue;
        for (int x = 0; x < image.width(); ++x) {
            if (x == reach && image.width() - reach > reach)
                x = image.width() - reach;
            cover(x, y);
        }
    }
}
} // namespace

void WorkspaceMetalView::Ticker::updateCurrentTime(int)
{
    m_view->readClock();
}

WorkspaceMetalView::WorkspaceMetalView(QQuickItem *parent) : QQuickItem(parent), m_ticker(new Ticker(this))
{
    m_clock.start();
    setFlag(ItemHasContents);
}

WorkspaceMetalView::~WorkspaceMetalView()
{
    m_ticker->stop();
}

void WorkspaceMetalView::setActiveMask(int mask)
{
    mask &= LanesFrame::kLaneBits;
    if (m_activeMask == mask)
        return;
    m_activeMask = mask;
    Q_EMIT activeMaskChanged();
    inputsChanged();
}

void WorkspaceMetalView::setVelocity(float velocity)
{
    if (m_velocity == velocity)
        return;
    m_velocity = velocity;
    Q_EMIT velocityChanged();
    inputsChanged();
}

void WorkspaceMetalView::setReducedMotion(bool reduced)
{
    if (m_reducedMotion == reduced)
        return;
    m_reducedMotion = reduced;
    Q_EMIT reducedMotionChanged();
    updateRunning();
    inputsChanged();
}

void WorkspaceMetalView::readClock()
{
    const float now = float(double(m_clock.nsecsElapsed()) / 1e9);
    if (now != m_time) {
        m_time = now;
        Q_EMIT timeChanged();
    }
    if (!m_shaderSupported)
        update();
}

void WorkspaceMetalView::inputsChanged()
{
    // Animating, the next tick draws the change; still, the change itself is the one frame drawn.
    if (m_reducedMotion)
        readClock();
    else if (!m_shaderSupported)
        update();
}

void WorkspaceMetalView::updateRunning()
{
    const bool run = window() && isVisible() && !m_reducedMotion;
    if (run && m_ticker->state() != QAbstractAnimation::Running)
        m_ticker->start();
    else if (!run)
        m_ticker->stop();
}

void WorkspaceMetalView::itemChange(ItemChange change, const ItemChangeData &value)
{
    if (change == ItemSceneChange) {
        const bool supported =
            value.window && QSGRendererInterface::isApiRhiBased(value.window->rendererInterface()->graphicsApi());
        if (supported != m_shaderSupported) {
            m_shaderSupported = supported;
            Q_EMIT shaderSupportedChanged();
        }
    }
    QQuickItem::itemChange(change, value);
    if (change == ItemSceneChange || change == ItemVisibleHasChanged)
        updateRunning();
}

QSGNode *WorkspaceMetalView::updatePaintNode(QSGNode *old, UpdatePaintNodeData *)
{
    if (m_shaderSupported || !window()) {
        delete old;
        return nullptr;
    }
    const qreal scale = window()->effectiveDevicePixelRatio();
    QImage picture = LanesFrame{m_time, m_activeMask, m_velocity}.render((size() * scale).toSize());
    if (picture.isNull()) {
        delete old;
        return nullptr;
    }
    roundCorners(picture, float(cornerRadius()), float(scale));
    auto *node = static_cast<PictureNode *>(old);
    if (!node)
        node = new PictureNode(window()->createImageNode());
    node->show(window()->createTextureFromImage(picture), boundingRect());
    return node;
}
