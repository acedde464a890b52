#include "core/HubLayout.h"
#include "core/HubError.h"
#include "core/Json.h"
#include "core/ResourceBundle.h"
#include "support/TestSupport.h"

#include <QEasingCurve>
#include <QPointF>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

namespace
{
const QString kInvalid = QStringLiteral("Invalid shared workspace geometry or motion tokens.");

// A valid layout: a 12 x 6 grid, the header across the top, three sections below it.
Json validLayout()
{
    return Json::parse(R"({
      "version": 3,
      "columns": 12,
      "rows": 6,
      "regions": [
        {"id": "header", "x": 0, "y": 0, "width": 12, "height": 1},
        {"id": "workforce", "x": 0, "y": 1, "width": 8, "height": 2},
        {"id": "documents", "x": 0, "y": 3, "width": 8, "height": 3},
        {"id": "events", "x": 8, "y": 1, "width": 4, "height": 5}
      ],
      "motion": {
        "standard": [0.2, 0.0, 0.0, 1.0],
        "emphasised": [0.3, 0.0, 0.1, 1.0],
        "spring": {"mass": 1.5, "stiffness": 170, "damping": 26}
      }
    })");
}

// Loads `layout.json` holding `text` from a bundle folder of its own.
HubLayout loadText(const QByteArray &text)
{
    QTemporaryDir bundle;
    testsupport::writeFile(bundle.filePath(QStringLiteral("layout.json")), text);
    return HubLayout::load(ResourceBundle(bundle.path()));
}

struct Case
{
    const char *name;
    std::function<void(Json &)> change;
    // Empty: the layout loads.
    QString error;
};

void PrintTo(const Case &c, std::ostream *os)
{
    *os << c.name;
}

Json &region(Json &layout, const char *id)
{
    for (auto &r : layout["regions"])
        if (r["id"] == id)
            return r;
    throw std::logic_error("no such region");
}

const Case kCases[] = {
    {"Valid", [](Json &) {}, {}},
    {"RegionEndingOnTheGridEdges",
     [](Json &l) {
         region(l, "events")["x"] = 9.5;
         region(l, "events")["width"] = 2.5;
     },
     {}},
    {"RegionOneHairPastTheRightEdge", [](Json &l) { region(l, "events")["width"] = 4.000001; }, kInvalid},
    {"RegionPastTheBottomEdge", [](Json &l) { region(l, "documents")["height"] = 3.5; }, kInvalid},
    {"HeaderRepeatedBesideTheOtherThree",
     [](Json &l) {
         l["regions"].push_back({{"id", "header"}, {"x", 2}, {"y", 0}, {"width", 1}, {"height", 1}});
     },
     {}},
    {"FifthIdentifier",
     [](Json &l) {
         l["regions"].push_back({{"id", "footer"}, {"x", 0}, {"y", 5}, {"width", 1}, {"height", 1}});
     },
     kInvalid},
    {"MissingIdentifier", [](Json &l) { l["regions"].erase(3); }, kInvalid},
    {"IdentifierOfOtherCase", [](Json &l) { region(l, "header")["id"] = "Header"; }, kInvalid},
    {"ZeroWidth", [](Json &l) { region(l, "workforce")["width"] = 0; }, kInvalid},
    {"ZeroHeight", [](Json &l) { region(l, "workforce")["height"] = 0; }, kInvalid},
    {"NegativeX", [](Json &l) { region(l, "events")["x"] = -0.5; }, kInvalid},
    {"NegativeY", [](Json &l) { region(l, "header")["y"] = -1; }, kInvalid},
    {"ZeroColumns", [](Json &l) { l["columns"] = 0; }, kInvalid},
    {"NegativeRows", [](Json &l) { l["rows"] = -6; }, kInvalid},
    {"StandardCurveOfThree",
     [](Json &l) {
         l["motion"]["standard"] = {0.2, 0.0, 0.0};
     },
     kInvalid},
    {"EmphasisedCurveOfFive",
     [](Json &l) {
         l["motion"]["emphasised"] = {0.3, 0.0, 0.1, 1.0, 1.0};
     },
     kInvalid},
    {"CurveOvershootingInY",
     [](Json &l) {
         l["motion"]["standard"] = {0.3, -0.6, 0.6, 1.7};
     },
     {}},
    {"CurveXOnItsBounds",
     [](Json &l) {
         l["motion"]["standard"] = {0.0, 0.5, 1.0, 0.5};
     },
     {}},
    {"CurveXBelowZero",
     [](Json &l) {
         l["motion"]["standard"] = {-0.01, 0.0, 0.5, 1.0};
     },
     kInvalid},
    {"CurveXAboveOne",
     [](Json &l) {
         l["motion"]["emphasised"] = {0.3, 0.0, 1.01, 1.0};
     },
     kInvalid},
    {"SpringWithoutDamping", [](Json &l) { l["motion"]["spring"]["damping"] = 0; }, {}},
    {"SpringWithZeroMass", [](Json &l) { l["motion"]["spring"]["mass"] = 0; }, kInvalid},
    {"SpringWithNegativeStiffness", [](Json &l) { l["motion"]["spring"]["stiffness"] = -170; }, kInvalid},
    {"SpringWithNegativeDamping", [](Json &l) { l["motion"]["spring"]["damping"] = -1; }, kInvalid},
    {"UnknownKeysIgnored",
     [](Json &l) {
         l["theme"] = "dark";
         region(l, "header")["colour"] = 3;
     },
     {}},
    {"MissingVersion", [](Json &l) { l.erase("version"); }, json::decodingErrorSentence()},
    {"FractionalVersion", [](Json &l) { l["version"] = 1.5; }, json::decodingErrorSentence()},
    {"ColumnsAsText", [](Json &l) { l["columns"] = "12"; }, json::decodingErrorSentence()},
    {"RegionWithoutHeight", [](Json &l) { region(l, "events").erase("height"); }, json::decodingErrorSentence()},
    {"CurveHoldingText", [](Json &l) { l["motion"]["standard"][1] = "0"; }, json::decodingErrorSentence()},
    {"SpringMissing", [](Json &l) { l["motion"].erase("spring"); }, json::decodingErrorSentence()},
    {"NullMass", [](Json &l) { l["motion"]["spring"]["mass"] = nullptr; }, json::decodingErrorSentence()},
};

class HubLayoutValidation : public ::testing::TestWithParam<Case>
{
};

TEST_P(HubLayoutValidation, LoadsOrRefusesWithItsSentence)
{
    Json layout = validLayout();
    GetParam().change(layout);
    const QByteArray text = json::dump(layout);
    if (GetParam().error.isEmpty()) {
        EXPECT_NO_THROW(loadText(text));
        return;
    }
    try {
        loadText(text);
        FAIL() << "loaded";
    } catch (const HubError &error) {
        EXPECT_EQ(error.description(), GetParam().error);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, HubLayoutValidation, ::testing::ValuesIn(kCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(HubLayout, DecodesEveryFieldInFileOrder)
{
    const HubLayout layout = loadText(json::dump(validLayout()));
    EXPECT_EQ(layout.version, 3);
    EXPECT_EQ(layout.columns, 12.0);
    EXPECT_EQ(layout.rows, 6.0);
    ASSERT_EQ(layout.regions.size(), 4);
    const HubLayout::Region &events = layout.regions[3];
    EXPECT_EQ(events.id, QStringLiteral("events"));
    EXPECT_EQ(events.x, 8.0);
    EXPECT_EQ(events.y, 1.0);
    EXPECT_EQ(events.width, 4.0);
    EXPECT_EQ(events.height, 5.0);
    EXPECT_EQ(layout.motion.standard, (QList<double>{0.2, 0.0, 0.0, 1.0}));
    EXPECT_EQ(layout.motion.emphasised, (QList<double>{0.3, 0.0, 0.1, 1.0}));
    EXPECT_EQ(layout.motion.spring.mass, 1.5);
    EXPECT_EQ(layout.motion.spring.stiffness, 170.0);
    EXPECT_EQ(layout.motion.spring.damping, 26.0);
}

TEST(HubLayout, MalformedDocumentFailsDecoding)
{
    try {
        loadText("{\"version\": 1,");
        FAIL() << "loaded";
    } catch (const HubError &error) {
        EXPECT_EQ(error.description(), json::decodingErrorSentence());
    }
}

TEST(HubLayout, BundleWithoutTheResourceSaysItIsMissing)
{
    QTemporaryDir bundle;
    try {
        HubLayout::load(ResourceBundle(bundle.path()));
        FAIL() << "loaded";
    } catch (const HubError &error) {
        EXPECT_EQ(error.description(), QStringLiteral("Shared layout resource missing."));
    }
}

TEST(HubLayout, InstalledResourceIsValid)
{
    const HubLayout layout = HubLayout::load();
    QStringList ids;
    for (const auto &r : layout.regions)
        ids << r.id;
    ids.sort();
    QStringList expected = HubLayout::regionIDs();
    expected.sort();
    EXPECT_EQ(ids, expected);
    EXPECT_TRUE(std::isfinite(layout.motion.spring.settlingSeconds()));
}

// The spring against a numerical solution of its equation of motion (fourth-order Runge-Kutta at a
// step far below its period).
double integrated(const HubLayout::Spring &spring, double seconds)
{
    const int steps = 200000;
    const double h = seconds / steps;
    double x = 0;
    double v = 0;
    auto accel = [&](double px, double pv) {
        return (-spring.stiffness * (px - 1) - spring.damping * pv) / spring.mass;
    };
    for (int i = 0; i < steps; ++i) {
        const double k1x = v, k1v = accel(x, v);
        const double k2x = v + h / 2 * k1v, k2v = accel(x + h / 2 * k1x, v + h / 2 * k1v);
        const double k3x = v + h / 2 * k2v, k3v = accel(x + h / 2 * k2x, v + h / 2 * k2v);
        const double k4x = v + h * k3v, k4v = accel(x + h * k3x, v + h * k3v);
        x += h / 6 * (k1x + 2 * k2x + 2 * k3x + k4x);
        v += h / 6 * (k1v + 2 * k2v + 2 * k3v + k4v);
    }
    return x;
}

struct SpringCase
{
    const char *name;
    HubLayout::Spring spring;
};

class SpringMotion : public ::testing::TestWithParam<SpringCase>
{
};

TEST_P(SpringMotion, FollowsItsEquationOfMotion)
{
    const HubLayout::Spring &spring = GetParam().spring;
    EXPECT_EQ(spring.progress(0), 0.0);
    for (double t : {0.02, 0.1, 0.25, 0.6})
        EXPECT_NEAR(spring.progress(t), integrated(spring, t), 1e-7) << "at " << t << " s";
}

TEST_P(SpringMotion, StaysWithinToleranceOnceSettled)
{
    const HubLayout::Spring &spring = GetParam().spring;
    const double settled = spring.settlingSeconds(0.001);
    if (spring.damping == 0) {
        EXPECT_TRUE(std::isinf(settled));
        return;
    }
    ASSERT_TRUE(std::isfinite(settled));
    for (int i = 0; i <= 400; ++i) {
        const double t = settled * (1 + i / 100.0);
        ASSERT_LE(std::abs(1 - spring.progress(t)), 0.001) << "at " << t << " s";
    }
}

const SpringCase kSprings[] = {
    {"Undamped", {1, 100, 0}},           {"Underdamped", {1, 180, 12}},
    {"HeavyUnderdamped", {2.5, 300, 5}}, {"JustBelowCritical", {1, 100, 20 * (1 - 1e-7)}},
    {"Critical", {1, 100, 20}},          {"JustAboveCritical", {1, 100, 20 * (1 + 1e-7)}},
    {"Overdamped", {1, 100, 50}},        {"FarOverdamped", {0.5, 40, 400}},
};

INSTANTIATE_TEST_SUITE_P(Springs, SpringMotion, ::testing::ValuesIn(kSprings),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(TimingCurve, MatchesQtsBezierEasing)
{
    const QList<QList<double>> curves{{0.25, 0.1, 0.25, 1.0},
                                      {0.2, 0.0, 0.0, 1.0},
                                      {0.3, -0.6, 0.6, 1.7},
                                      {0.0, 0.0, 1.0, 1.0},
                                      {1.0, 0.0, 0.0, 1.0}};
    for (const auto &c : curves) {
        QEasingCurve easing(QEasingCurve::BezierSpline);
        easing.addCubicBezierSegment(QPointF(c[0], c[1]), QPointF(c[2], c[3]), QPointF(1, 1));
        for (int i = 0; i <= 20; ++i) {
            const double t = i / 20.0;
            EXPECT_NEAR(HubLayout::timingProgress(c, t), easing.valueForProgress(t), 2e-3)
                << "curve " << c[0] << "," << c[1] << "," << c[2] << "," << c[3] << " at " << t;
        }
    }
    // A well-known point of the common "ease" curve.
    EXPECT_NEAR(HubLayout::timingProgress({0.25, 0.1, 0.25, 1.0}, 0.5), 0.8024033877, 1e-6);
}

TEST(TimingCurve, StartsAtZeroEndsAtOneAndClampsElapsedTime)
{
    const QList<double> curve{0.3, 0.0, 0.1, 1.0};
    EXPECT_EQ(HubLayout::timingProgress(curve, 0), 0.0);
    EXPECT_NEAR(HubLayout::timingProgress(curve, 1), 1.0, 1e-12);
    EXPECT_EQ(HubLayout::timingProgress(curve, -2), 0.0);
    EXPECT_NEAR(HubLayout::timingProgress(curve, 7), 1.0, 1e-12);
}

// Where the window places a region: the worked example of a 1200 x 600 area on a 12 x 6 grid, the
// inset's edge, and areas no layout pass should offer but a window being torn down can.
TEST(RegionRect, PlacesRegionsByTheGridAndClampsWhatCannotBeShown)
{
    HubLayout layout;
    layout.columns = 12;
    layout.rows = 6;
    const double nan = std::nan("");
    const double inf = std::numeric_limits<double>::infinity();
    struct Case
    {
        const char *name;
        HubLayout::Region region;
        QSizeF area;
        QRectF want;
    };
    const Case cases[] = {
        {"header of the worked example", {"header", 0, 0, 12, 1}, {1200, 600}, {6, 6, 1188, 88}},
        {"events of the worked example", {"events", 8, 1, 4, 5}, {1200, 600}, {806, 106, 388, 488}},
        {"scaled width of exactly 12 gives 0", {"events", 0, 0, 1, 1}, {144, 72}, {6, 6, 0, 0}},
        {"scaled width of 12.5 gives 0.5", {"events", 0, 0, 1, 1}, {150, 75}, {6, 6, 0.5, 0.5}},
        {"negative area", {"events", 8, 1, 4, 5}, {-1200, -600}, {6, 6, 0, 0}},
        {"area not a number", {"events", 8, 1, 4, 5}, {nan, nan}, {6, 6, 0, 0}},
        {"infinite area", {"events", 8, 1, 4, 5}, {inf, 600}, {6, 106, 0, 488}},
    };
    for (const Case &c : cases) {
        const QRectF got = layout.regionRect(c.region, c.area);
        EXPECT_EQ(got, c.want) << c.name << ": got " << got.x() << "," << got.y() << " " << got.width() << "x"
                               << got.height();
    }
    // The centres the window positions the sections at.
    EXPECT_EQ(layout.regionRect({"header", 0, 0, 12, 1}, {1200, 600}).center(), QPointF(600, 50));
    EXPECT_EQ(layout.regionRect({"events", 8, 1, 4, 5}, {1200, 600}).center(), QPointF(1000, 350));
}
} // namespace
