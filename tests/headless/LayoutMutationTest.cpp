#include "headless/HeadlessFrames.h"

#include "core/HubError.h"
#include "core/Json.h"
#include "core/ResourceBundle.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

namespace
{
Json layout()
{
    return Json::parse(R"({
      "version": 1, "columns": 12, "rows": 8,
      "regions": [
        {"id": "header", "x": 0, "y": 0, "width": 12, "height": 1},
        {"id": "workforce", "x": 0, "y": 1, "width": 9, "height": 3},
        {"id": "documents", "x": 0, "y": 4, "width": 9, "height": 4},
        {"id": "events", "x": 9, "y": 1, "width": 3, "height": 7}
      ],
      "motion": {"standard": [0.2, 0.0, 0.0, 1.0], "emphasised": [0.3, 0.0, 0.1, 1.0],
                 "spring": {"mass": 1, "stiffness": 180, "damping": 24}}
    })");
}

const QString kUntestable = QStringLiteral("Cannot test native geometry projection.");
const QString kNotReflected = QStringLiteral("Native frame does not reflect mutated shared JSON.");

TEST(LayoutMutation, TheWindowsGeometryFollowsTheEditedResource)
{
    struct Case
    {
        const char *name;
        std::function<void(Json &)> change;
        QString error; // empty: passes
    };
    const Case cases[] = {
        {"the shipped shape", [](Json &) {}, {}},
        {"fractional grid units",
         [](Json &j) {
             j["regions"][1]["x"] = 0.5;
             j["regions"][1]["width"] = 8.5;
         },
         {}},
        {"too narrow to lose three columns whole",
         [](Json &j) {
             j["regions"][1]["width"] = 3.05;
             j["regions"][2]["width"] = 9;
         },
         kNotReflected},
        {"no workforce region", [](Json &j) { j["regions"][1]["id"] = "header"; }, kUntestable},
        {"width not a number", [](Json &j) { j["regions"][1]["width"] = "9"; }, kUntestable},
        {"no regions", [](Json &j) { j.erase("regions"); }, kUntestable},
        {"empty regions", [](Json &j) { j["regions"] = Json::array(); }, kUntestable},
        {"a region that is no object", [](Json &j) { j["regions"].push_back(3); }, kUntestable},
        {"not an object", [](Json &j) { j = Json::array({1}); }, kUntestable},
        // The baseline is the validated layout the window uses; its refusal passes through.
        {"an invalid baseline", [](Json &j) { j["columns"] = 0; },
         "Invalid shared workspace geometry or motion tokens."},
    };
    for (const Case &c : cases) {
        QTemporaryDir bundle;
        Json document = layout();
        c.change(document);
        testsupport::writeFile(bundle.filePath("layout.json"), QByteArray::fromStdString(document.dump()));
        QString got;
        try {
            HeadlessFrames::verifyLayoutMutation(ResourceBundle(bundle.path()));
        } catch (const HubError &error) {
            got = error.description();
        }
        EXPECT_EQ(got, c.error) << c.name;
    }
    QTemporaryDir empty;
    try {
        HeadlessFrames::verifyLayoutMutation(ResourceBundle(empty.path()));
        ADD_FAILURE() << "no resource passed";
    } catch (const HubError &error) {
        EXPECT_EQ(error.description(), kUntestable);
    }
}
} // namespace
