#include "headless/HeadlessFrames.h"

#include "core/HubError.h"
#include "core/HubLayout.h"
#include "core/Json.h"
#include "core/ResourceBundle.h"

#include <cmath>

namespace
{
// The canvas the check places regions on: the frames' 1440 × 900 points less the working screen's
// insets.
constexpr QSizeF kCanvas(1404, 854);
constexpr double kColumnsMoved = 3;
constexpr double kTolerance = 0.0001;

HubError untestable()
{
    return HubError(QStringLiteral("Cannot test native geometry projection."));
}
} // namespace

void HeadlessFrames::verifyLayoutMutation()
{
    verifyLayoutMutation(ResourceBundle::of(ResourceBundle::Module::TavriloHub));
}

void HeadlessFrames::verifyLayoutMutation(const ResourceBundle &bundle)
{
    const std::optional<QByteArray> bytes = HubLayout::resourceBytes(bundle);
    if (!bytes)
        throw untestable();
    Json document = json::parse(*bytes);

    if (!document.is_object() || !document.contains("regions") || !document["regions"].is_array() ||
        document["regions"].empty())
        throw untestable();
    Json &regions = document["regions"];
    std::optional<size_t> index;
    for (size_t i = 0; i < regions.size(); ++i) {
        if (!regions[i].is_object())
            throw untestable();
        const Json &region = regions[i];
        if (!index && region.contains("id") && region["id"] == "workforce")
            index = i;
    }
    if (!index)
        throw untestable();
    Json &workforce = regions[*index];
    if (!workforce.contains("x") || !workforce["x"].is_number() || !workforce.contains("width") ||
        !workforce["width"].is_number())
        throw untestable();

    const HubLayout baseline = HubLayout::load(bundle);
    workforce["x"] = workforce["x"].get<double>() + kColumnsMoved;
    workforce["width"] = workforce["width"].get<double>() - kColumnsMoved;
    // Decoded as the window would decode it, without the load-time validation.
    const HubLayout edited = HubLayout::decode(json::dump(document));

    const auto i = qsizetype(*index);
    if (i >= baseline.regions.size() || i >= edited.regions.size())
        throw HubError(QStringLiteral("Native frame does not reflect mutated shared JSON."));
    const QRectF before = baseline.regionRect(baseline.regions[i], kCanvas);
    const QRectF after = edited.regionRect(edited.regions[i], kCanvas);
    const double shift = kColumnsMoved * kCanvas.width() / baseline.columns;
    const bool moved = std::abs((after.left() - before.left()) - shift) < kTolerance;
    const bool narrowed = std::abs((before.width() - after.width()) - shift) < kTolerance;
    const bool sameMotion =
        edited.motion.standard == baseline.motion.standard && edited.motion.emphasised == baseline.motion.emphasised;
    if (!moved || !narrowed || !sameMotion)
        throw HubError(QStringLiteral("Native frame does not reflect mutated shared JSON."));
}
