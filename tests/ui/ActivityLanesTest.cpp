#include "support/TestSupport.h"
#include "ui/ImageDifference.h"
#include "ui/LanesFrame.h"
#include "ui/WorkspaceMetalView.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QVariantAnimation>
#include <QtQml/qqmlextensionplugin.h>

#include <gtest/gtest.h>

#include <memory>

// The lanes view in a window, built twice: on the software scene graph (LANES_GRAPHICS_API
// Software), where the view paints the formula on the CPU, and on OpenGL, where the lanes shader
// draws it and the CPU picture is the reference.

Q_IMPORT_QML_PLUGIN(Tavrilo_UiPlugin)

namespace
{
constexpr auto kApi = QSGRendererInterface::LANES_GRAPHICS_API;
// The shader and the CPU may round a channel apart where the formula sits on a rounding edge.
constexpr int kTolerance = 2;

// Chosen before the first window exists, as the scene graph requires.
const bool kApiChosen = [] {
    QQuickWindow::setGraphicsApi(kApi);
    return true;
}();

class ActivityLanesTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(kApiChosen);
        m_engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
        QQmlComponent component(&m_engine);
        component.setData(R"(
            import QtQuick
            import Tavrilo.Ui
            Window {
                width: 330; height: 66; visible: true; color: "white"
                ActivityLanes { objectName: "lanes"; anchors.fill: parent; reducedMotion: true }
            })",
                          QUrl());
        m_window.reset(qobject_cast<QQuickWindow *>(component.create()));
        ASSERT_TRUE(m_window) << qPrintable(component.errorString());
        m_lanes = m_window->findChild<WorkspaceMetalView *>(QStringLiteral("lanes"));
        ASSERT_TRUE(m_lanes);
        ASSERT_TRUE(testsupport::waitUntil([&] { return m_window->isExposed(); }));
        ASSERT_EQ(m_window->rendererInterface()->graphicsApi(), kApi);
        ASSERT_EQ(m_lanes->shaderSupported(), kApi != QSGRendererInterface::Software);
    }

    QImage grab() { return m_window->grabWindow().convertToFormat(QImage::Format_RGBA8888_Premultiplied); }

    // What the view must show now: its inputs at its clock's current reading.
    QImage expected() const
    {
        return LanesFrame{m_lanes->time(), m_lanes->activeMask(), m_lanes->velocity()}.render(m_window->size());
    }

    // Everything but the rounded corners and the grid's edge columns.
    static bool compared(int x, int y)
    {
        if (onGridEdge(x, 330))
            return false;
        const int reach = int(WorkspaceMetalView::cornerRadius()) + 1;
        const bool left = x < reach, right = x >= 330 - reach, top = y < reach, bottom = y >= 66 - reach;
        return !((left || right) && (top || bottom));
    }

    QQmlEngine m_engine;
    std::unique_ptr<QQuickWindow> m_window;
    WorkspaceMetalView *m_lanes = nullptr;
};

struct Inputs
{
    const char *name;
    int activeMask;
    float velocity;
    int keptMask;
};

void PrintTo(const Inputs &i, std::ostream *os)
{
    *os << i.name;
}

class ActivityLanesInputs : public ActivityLanesTest, public ::testing::WithParamInterface<Inputs>
{
};

TEST_P(ActivityLanesInputs, DrawsTheLanesFormula)
{
    const Inputs &in = GetParam();
    m_lanes->setActiveMask(in.activeMask);
    m_lanes->setVelocity(in.velocity);
    EXPECT_EQ(m_lanes->activeMask(), in.keptMask);
    const QImage drawn = grab();
    EXPECT_LE(largestDifference(drawn, expected(), compared), kTolerance);
    // The corners are cut away: the window shows through.
    EXPECT_EQ(drawn.pixel(0, 0), qRgb(255, 255, 255));
    EXPECT_EQ(drawn.pixel(329, 65), qRgb(255, 255, 255));
}

const Inputs kInputs[] = {
    {"Idle", 0, 0, 0},
    {"FiveLanesAtSixty", 0x3E, 60, 0x3E},
    {"OneSlowLane", 0x01, 7.5f, 0x01},
    {"BitsAboveLaneFiveDropped", 0x7FC0 | 0x15, 1000, 0x15},
};

INSTANTIATE_TEST_SUITE_P(Inputs, ActivityLanesInputs, ::testing::ValuesIn(kInputs),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(ActivityLanesTest, ReducedMotionDrawsOneStillFramePerInputChange)
{
    m_lanes->setActiveMask(0x3F);
    const float still = m_lanes->time();
    const QImage first = grab();
    const QImage second = grab();
    EXPECT_EQ(m_lanes->time(), still);
    EXPECT_EQ(first, second);

    ASSERT_TRUE(testsupport::waitUntil([&] {
        m_lanes->setVelocity(m_lanes->velocity() + 1);
        return m_lanes->time() > still;
    }));
    EXPECT_LE(largestDifference(grab(), expected(), compared), kTolerance);
}

TEST_F(ActivityLanesTest, AnimatesFrameByFrameWithoutReducedMotion)
{
    m_lanes->setActiveMask(0x3F);
    m_lanes->setVelocity(160);
    const QImage before = grab();
    const float start = m_lanes->time();
    m_lanes->setReducedMotion(false);
    ASSERT_TRUE(testsupport::waitUntil([&] { return m_lanes->time() > start + 0.1f; }));
    EXPECT_NE(grab(), before);

    // Hidden, the view stops ticking: another animation on the same driver moves on, its clock
    // reading does not. Shown again, it runs on.
    m_lanes->setVisible(false);
    const float hidden = m_lanes->time();
    QVariantAnimation later;
    later.setDuration(60000);
    later.start();
    ASSERT_TRUE(testsupport::waitUntil([&] { return later.currentTime() > 200; }));
    EXPECT_EQ(m_lanes->time(), hidden);
    m_lanes->setVisible(true);
    ASSERT_TRUE(testsupport::waitUntil([&] { return m_lanes->time() > hidden; }));
}
} // namespace
