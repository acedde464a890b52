#include "core/HubLayout.h"

#include "core/HubError.h"
#include "core/Json.h"
#include "core/ResourceBundle.h"
#include "core/StrictDecoder.h"

#include <QFile>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <limits>

namespace
{
[[noreturn]] void decodingFailed()
{
    throw HubError(json::decodingErrorSentence());
}

double number(const StrictDecoder &object, std::string_view key)
{
    const auto value = object.optionalNumber(key);
    if (!value)
        decodingFailed();
    return *value;
}

QList<double> numbers(const StrictDecoder &object, std::string_view key)
{
    QList<double> list;
    for (const auto &element : object.array(key)) {
        if (!element.is_number())
            decodingFailed();
        list.append(element.get<double>());
    }
    return list;
}

const Json &requiredObject(const StrictDecoder &object, std::string_view key)
{
    const Json *value = object.optionalObject(key);
    if (!value)
        decodingFailed();
    return *value;
}

bool isCurve(const QList<double> &curve)
{
    // Control points outside 0..1 in x make time run backwards on the curve: there is no single
    // progress for an elapsed fraction.
    return curve.size() == 4 && curve[0] >= 0 && curve[0] <= 1 && curve[2] >= 0 && curve[2] <= 1;
}

// Damping ratios this close to 1 use the critically damped solution; the underdamped one divides by
// a damped frequency that vanishes there.
constexpr double kCriticalBand = 1e-6;
} // namespace

const QStringList &HubLayout::regionIDs()
{
    static const QStringList ids{QStringLiteral("header"), QStringLiteral("workforce"), QStringLiteral("documents"),
                                 QStringLiteral("events")};
    return ids;
}

HubLayout HubLayout::load()
{
    return load(ResourceBundle::of(ResourceBundle::Module::TavriloHub));
}

HubLayout HubLayout::load(const ResourceBundle &bundle)
{
    const std::optional<QByteArray> bytes = resourceBytes(bundle);
    if (!bytes)
        throw HubError(QStringLiteral("Shared layout resource missing."));
    HubLayout layout = decode(*bytes);
    if (!layout.isValid())
        throw HubError(QStringLiteral("Invalid shared workspace geometry or motion tokens."));
    return layout;
}

std::optional<QByteArray> HubLayout::resourceBytes(const ResourceBundle &bundle)
{
    const auto path = bundle.resource(QStringLiteral("layout"), QStringLiteral("json"));
    if (!path)
        return std::nullopt;
    QFile file(*path);
    if (!file.open(QIODevice::ReadOnly))
        throw HubError(QStringLiteral("The shared layout resource cannot be read: %1.").arg(file.errorString()));
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw HubError(QStringLiteral("The shared layout resource cannot be read: %1.").arg(file.errorString()));
    return bytes;
}

HubLayout HubLayout::decode(const QByteArray &json)
{
    const Json document = json::parse(json);
    const StrictDecoder root(document);
    HubLayout layout;
    layout.version = root.integer("version");
    layout.columns = number(root, "columns");
    layout.rows = number(root, "rows");
    for (const auto &element : root.array("regions")) {
        const StrictDecoder region(element);
        layout.regions.append(Region{region.text("id"), number(region, "x"), number(region, "y"),
                                     number(region, "width"), number(region, "height")});
    }
    const StrictDecoder motion(requiredObject(root, "motion"));
    layout.motion.standard = numbers(motion, "standard");
    layout.motion.emphasised = numbers(motion, "emphasised");
    const StrictDecoder spring(requiredObject(motion, "spring"));
    layout.motion.spring = Spring{number(spring, "mass"), number(spring, "stiffness"), number(spring, "damping")};
    return layout;
}

bool HubLayout::isValid() const
{
    if (!(columns > 0 && rows > 0))
        return false;
    // A repeated id is allowed; a missing or unknown one is not.
    QSet<QString> ids;
    for (const auto &region : regions)
        ids.insert(region.id);
    if (ids != QSet<QString>(regionIDs().begin(), regionIDs().end()))
        return false;
    for (const auto &r : regions) {
        if (!(r.width > 0 && r.height > 0 && r.x >= 0 && r.y >= 0 && r.x + r.width <= columns &&
              r.y + r.height <= rows))
            return false;
    }
    if (!isCurve(motion.standard) || !isCurve(motion.emphasised))
        return false;
    // Without mass or stiffness the spring has no frequency (a division by zero); negative damping
    // feeds energy in and the motion grows without bound.
    const Spring &s = motion.spring;
    return s.mass > 0 && s.stiffness > 0 && s.damping >= 0;
}

QRectF HubLayout::regionRect(const Region &region, QSizeF area) const
{
    constexpr double kInset = 6;
    const auto side = [](double value) { return std::isfinite(value) && value > 0 ? value : 0.0; };
    const auto length = [](double value) { return value >= 0 ? value : 0.0; };
    const double w = side(area.width());
    const double h = side(area.height());
    return QRectF(region.x * w / columns + kInset, region.y * h / rows + kInset,
                  length(region.width * w / columns - 2 * kInset), length(region.height * h / rows - 2 * kInset));
}

double HubLayout::Spring::progress(double seconds) const
{
    if (seconds <= 0)
        return 0;
    const double omega = std::sqrt(stiffness / mass);
    const double zeta = damping / (2 * std::sqrt(stiffness * mass));
    const double t = seconds;
    if (zeta < 1 - kCriticalBand) {
        const double omegaD = omega * std::sqrt(1 - zeta * zeta);
        return 1 - std::exp(-zeta * omega * t) * (std::cos(omegaD * t) + zeta * omega / omegaD * std::sin(omegaD * t));
    }
    if (zeta <= 1 + kCriticalBand)
        return 1 - std::exp(-omega * t) * (1 + omega * t);
    // Two real roots; the slow one from the product of the roots, which avoids cancellation when the
    // damping is large.
    const double fast = -omega * (zeta + std::sqrt(zeta * zeta - 1));
    const double slow = omega * omega / fast;
    return 1 - (fast * std::exp(slow * t) - slow * std::exp(fast * t)) / (fast - slow);
}

double HubLayout::Spring::settlingSeconds(double tolerance) const
{
    const double omega = std::sqrt(stiffness / mass);
    const double zeta = damping / (2 * std::sqrt(stiffness * mass));
    if (!(zeta > 0))
        return std::numeric_limits<double>::infinity();
    if (zeta < 1 - kCriticalBand) {
        // The oscillation stays inside the envelope exp(-zeta omega t) / sqrt(1 - zeta^2).
        const double amplitude = 1 / std::sqrt(1 - zeta * zeta);
        return std::max(0.0, std::log(amplitude / tolerance) / (zeta * omega));
    }
    // Critically and overdamped springs approach 1 from below without crossing it: the first time
    // within tolerance is the answer, found by bisection.
    auto remaining = [this](double t) { return 1 - progress(t); };
    double high = 1 / omega;
    while (remaining(high) > tolerance && high < 1e12)
        high *= 2;
    double low = 0;
    for (int i = 0; i < 200 && high - low > 1e-12 * high; ++i) {
        const double middle = (low + high) / 2;
        (remaining(middle) > tolerance ? low : high) = middle;
    }
    return high;
}

double HubLayout::timingProgress(const QList<double> &curve, double elapsed)
{
    const double e = std::clamp(elapsed, 0.0, 1.0);
    if (curve.size() != 4 || e == 0 || e == 1)
        return e;
    const double x1 = curve[0], y1 = curve[1], x2 = curve[2], y2 = curve[3];
    auto bezier = [](double a, double b, double s) {
        const double r = 1 - s;
        return 3 * r * r * s * a + 3 * r * s * s * b + s * s * s;
    };
    // x(s) rises monotonically from 0 to 1 when x1 and x2 lie in [0, 1], so bisection finds the one
    // parameter whose x is the elapsed fraction.
    double low = 0, high = 1;
    for (int i = 0; i < 64; ++i) {
        const double middle = (low + high) / 2;
        (bezier(x1, x2, middle) < e ? low : high) = middle;
    }
    return bezier(y1, y2, (low + high) / 2);
}
