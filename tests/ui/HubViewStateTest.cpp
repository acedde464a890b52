#include "ui/HubViewState.h"
#include "core/HubLayout.h"
#include "session/SessionTestSupport.h"
#include "support/TestSupport.h"

#include <QCoroSignal>

#include <gtest/gtest.h>

using testsupport::waitUntil;

namespace
{
struct ComposerCase
{
    const char *name;
    bool interjection;
    bool controlsConnected;
    QString text;
    bool enabled;
    QString title;
    QString primary;
};

class ComposerRulesTest : public ::testing::TestWithParam<ComposerCase>
{
};

TEST_P(ComposerRulesTest, TitleLabelAndEnabling)
{
    const ComposerCase &c = GetParam();
    EXPECT_EQ(ComposerRules::primaryEnabled(c.interjection, c.controlsConnected, c.text), c.enabled);
    EXPECT_EQ(ComposerRules::title(c.interjection), c.title);
    EXPECT_EQ(ComposerRules::primaryLabel(c.interjection), c.primary);
}

const QString taskTitle = QStringLiteral("Give your workforce a task");
const QString interjectTitle = QStringLiteral("Interject in this run");
INSTANTIATE_TEST_SUITE_P(
    Cases, ComposerRulesTest,
    ::testing::Values(
        ComposerCase{"TaskEmpty", false, false, {}, true, taskTitle, QStringLiteral("Save task")},
        ComposerCase{"TaskSignedIn", false, true, QStringLiteral("x"), true, taskTitle, QStringLiteral("Save task")},
        ComposerCase{"InterjectionEmpty", true, true, {}, false, interjectTitle, QStringLiteral("Queue interjection")},
        ComposerCase{"InterjectionWhitespaceOnly", true, true, QStringLiteral(" \t\n \r\n"), false, interjectTitle,
                     QStringLiteral("Queue interjection")},
        ComposerCase{"InterjectionWordInSpaces", true, true, QStringLiteral("  go on \n"), true, interjectTitle,
                     QStringLiteral("Queue interjection")},
        ComposerCase{"InterjectionSignedOut", true, false, QStringLiteral("go on"), false, interjectTitle,
                     QStringLiteral("Queue interjection")}),
    [](const auto &info) { return std::string(info.param.name); });

// A sender that holds each interjection until the test releases it.
class HeldSender : public QObject
{
    Q_OBJECT

public:
    QStringList sent;
    QCoro::Task<void> send(QString text)
    {
        sent << text;
        co_await qCoro(this, &HeldSender::released);
    }
    void release() { Q_EMIT released(); }

Q_SIGNALS:
    void released();
};

TEST(HubViewStateTest, AnInterjectionIsSentAsTypedAndTheSheetClosesWhenTheSendReturns)
{
    HubViewState state;
    HeldSender sender;
    state.setControlSender([&](QString text) { return sender.send(std::move(text)); });
    state.setInterjectionText(QStringLiteral("  keep the spaces \n"));
    state.openComposer(true);
    state.composerPrimary();

    ASSERT_EQ(sender.sent.size(), 1);
    EXPECT_EQ(sender.sent[0], QStringLiteral("  keep the spaces \n"));
    EXPECT_TRUE(state.showingComposer()); // open while the control is being sent
    sender.release();
    EXPECT_TRUE(waitUntil([&] { return !state.showingComposer(); }));
    // Reopening shows the same text.
    state.openComposer(true);
    EXPECT_EQ(state.interjectionText(), QStringLiteral("  keep the spaces \n"));
}

TEST(HubViewStateTest, AFailedSendStillClosesTheSheet)
{
    HubViewState state;
    state.setControlSender([](QString) -> QCoro::Task<void> {
        throw std::runtime_error("refused");
        co_return;
    });
    state.setInterjectionText(QStringLiteral("x"));
    state.openComposer(true);
    state.composerPrimary();
    EXPECT_TRUE(waitUntil([&] { return !state.showingComposer(); }));
    EXPECT_EQ(state.interjectionText(), QStringLiteral("x"));
}

TEST(HubViewStateTest, SaveTaskAndCancelOnlyCloseTheSheet)
{
    const auto model = sessiontest::makeModel();
    HubViewState state;
    state.setModel(model.get());
    model->setPrompt(QStringLiteral("Ship the release notes"));
    state.setInterjectionText(QStringLiteral("draft"));
    for (const bool save : {true, false}) {
        state.openComposer(false);
        save ? state.composerPrimary() : state.cancelComposer();
        EXPECT_FALSE(state.showingComposer());
        EXPECT_EQ(model->prompt(), QStringLiteral("Ship the release notes"));
        EXPECT_EQ(state.interjectionText(), QStringLiteral("draft"));
    }
}

TEST(HubViewStateTest, SignedOutTheModelRefusesTheInterjectionAndTheSheetCloses)
{
    const auto model = sessiontest::makeModel();
    HubViewState state;
    state.setModel(model.get());
    state.setInterjectionText(QStringLiteral("go on"));
    state.openComposer(true);
    int finished = 0;
    QObject::connect(&state, &HubViewState::composerSendFinished, [&finished] { ++finished; });
    state.composerPrimary();
    ASSERT_TRUE(waitUntil([&] { return finished == 1; }));
    EXPECT_FALSE(state.showingComposer());
    EXPECT_EQ(model->message(), QStringLiteral("Sign in before sending run controls, or wait for cleanup."));
}

TEST(HubViewStateTest, EveryChangeOfTheExpandedInspectorResetsTheThinkingChoice)
{
    const auto model = sessiontest::makeModel();
    HubViewState state;
    state.setModel(model.get());
    state.setThinkingOverride(true);
    EXPECT_EQ(state.thinkingOverride(), QVariant(true)); // binding the model is no change
    for (const QString &inspector : {QStringLiteral("events"), QStringLiteral("workforce"), QString()}) {
        state.setThinkingOverride(false);
        model->setExpandedInspector(inspector);
        EXPECT_FALSE(state.thinkingOverride().isValid()) << inspector.toStdString();
    }
}

HubLayout layoutWith(QList<double> standard, QList<double> emphasised)
{
    HubLayout layout;
    layout.motion.standard = std::move(standard);
    layout.motion.emphasised = std::move(emphasised);
    layout.motion.spring = {1, 170, 26};
    return layout;
}

struct MotionCase
{
    const char *name;
    std::optional<HubLayout> layout;
    bool reduceMotion;
    bool offscreen;
    double springSeconds; // negative: the layout's spring, between 0 and 2 s
    QVariantList emphasised;
    int curveMilliseconds;
};

class MotionTest : public ::testing::TestWithParam<MotionCase>
{
};

TEST_P(MotionTest, TransitionsFollowTheLayoutUnlessMotionIsReduced)
{
    const MotionCase &c = GetParam();
    const auto model = sessiontest::makeModel();
    model->setLayout(c.layout);
    HubViewState state;
    state.setModel(model.get());
    state.setReduceMotion(c.reduceMotion);
    state.setOffscreenExport(c.offscreen);
    if (c.springSeconds < 0) {
        EXPECT_GT(state.springSeconds(), 0.1);
        EXPECT_LE(state.springSeconds(), 2.0);
        EXPECT_DOUBLE_EQ(state.profileProgress(0.05), c.layout->motion.spring.progress(0.05));
    } else {
        EXPECT_DOUBLE_EQ(state.springSeconds(), c.springSeconds);
    }
    EXPECT_EQ(state.profileProgress(state.springSeconds()), 1.0);
    EXPECT_EQ(state.emphasisedCurve(), c.emphasised);
    EXPECT_EQ(state.curveMilliseconds(), c.curveMilliseconds);
}

const QVariantList emphasisedPoints{0.2, 0.0, 0.0, 1.0, 1.0, 1.0};
INSTANTIATE_TEST_SUITE_P(
    Cases, MotionTest,
    ::testing::Values(
        MotionCase{"Layout", layoutWith({0.4, 0, 0.2, 1}, {0.2, 0, 0, 1}), false, false, -1, emphasisedPoints, 240},
        MotionCase{"NoLayoutUsesTheDefault", std::nullopt, false, false, 0.25, {}, 250},
        MotionCase{"ReducedMotion", layoutWith({0.4, 0, 0.2, 1}, {0.2, 0, 0, 1}), true, false, 0, emphasisedPoints, 0},
        MotionCase{"OffscreenNeverAnimates", layoutWith({0.4, 0, 0.2, 1}, {0.2, 0, 0, 1}), false, true, 0,
                   emphasisedPoints, 0}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(HubViewStateTest, ToggledAddsAnAbsentIdAndRemovesAPresentOne)
{
    EXPECT_EQ(HubViewState::toggled({}, QStringLiteral("a")), QStringList{QStringLiteral("a")});
    EXPECT_EQ(HubViewState::toggled({QStringLiteral("a"), QStringLiteral("b")}, QStringLiteral("a")),
              QStringList{QStringLiteral("b")});
}
} // namespace

#include "HubViewStateTest.moc"
