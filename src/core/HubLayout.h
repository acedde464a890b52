#pragma once

#include <QByteArray>
#include <QList>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QStringList>

#include <optional>

class ResourceBundle;

// The validated shared layout of the workspace window: grid columns and rows, four regions, motion
// curves and spring, read from the "layout.json" resource. Geometry is in grid units; the window
// scales the grid to its own size.
class HubLayout
{
public:
    struct Region
    {
        QString id;
        double x = 0;
        double y = 0;
        double width = 0;
        double height = 0;
    };

    // A mass on a spring with viscous damping, released at rest from 0 towards 1:
    // mass * x'' + damping * x' + stiffness * (x - 1) = 0, x(0) = 0, x'(0) = 0.
    struct Spring
    {
        double mass = 0;
        double stiffness = 0;
        double damping = 0;

        // x(seconds): the progress of the transition, overshooting 1 when underdamped.
        double progress(double seconds) const;
        // The time after which the progress stays within `tolerance` of 1; infinite without damping.
        double settlingSeconds(double tolerance = 0.001) const;
    };

    struct Motion
    {
        // Control points of a cubic timing curve from (0, 0) to (1, 1): x1, y1, x2, y2.
        QList<double> standard;
        QList<double> emphasised;
        Spring spring;
    };

    qint64 version = 0;
    double columns = 0;
    double rows = 0;
    QList<Region> regions;
    Motion motion;

    // The sections a region can hold, in their fixed order.
    static const QStringList &regionIDs();

    // Reads and validates the bundled resource; throws HubError "Shared layout resource missing." or
    // "Invalid shared workspace geometry or motion tokens.", or the decoding sentence.
    static HubLayout load();
    // The same from the "layout.json" of `bundle`.
    static HubLayout load(const ResourceBundle &bundle);

    // Where the window places `region` in its region area of `area` points: the grid rectangle scaled
    // to the area (multiplied before divided) and inset 6 points on every side; a side that would be
    // shorter than the inset leaves (negative, or not a number) is 0. An area side that is negative
    // or not finite counts as 0, so the rectangle is always finite for a valid layout. The window's
    // QML and the headless layout check both place regions with this one function.
    QRectF regionRect(const Region &region, QSizeF area) const;

    // The bytes of the "layout.json" of `bundle`; nothing when it has none. Throws HubError when it
    // cannot be read.
    static std::optional<QByteArray> resourceBytes(const ResourceBundle &bundle);

    // Decodes without validating; throws HubError with the decoding sentence for malformed JSON, a
    // missing key or a value of the wrong type. Keys not listed above are ignored.
    static HubLayout decode(const QByteArray &json);
    bool isValid() const;

    // The progress at `elapsed` (0 to 1, clamped) along a timing curve of four control-point numbers:
    // the y of the curve's point whose x is `elapsed`. Needs x1 and x2 in [0, 1], as validation does.
    static double timingProgress(const QList<double> &curve, double elapsed);
};
