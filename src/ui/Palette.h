#pragma once

#include <QColor>
#include <QObject>
#include <QtQml/qqmlregistration.h>

// The window's whole colour vocabulary: seven constant sRGB colours, opaque. C++ reads them through
// the static functions; QML through the `HubPalette` singleton's properties of the same names (the
// name `Palette` belongs to QtQuick, whose type would shadow ours in every file importing QtQuick
// first).
class Palette : public QObject
{
    Q_OBJECT
    QML_NAMED_ELEMENT(HubPalette)
    QML_SINGLETON
    Q_PROPERTY(QColor paper READ paper CONSTANT)
    Q_PROPERTY(QColor card READ card CONSTANT)
    Q_PROPERTY(QColor ink READ ink CONSTANT)
    Q_PROPERTY(QColor muted READ muted CONSTANT)
    Q_PROPERTY(QColor green READ green CONSTANT)
    Q_PROPERTY(QColor line READ line CONSTANT)
    Q_PROPERTY(QColor error READ error CONSTANT)

public:
    using QObject::QObject;

    // Window and panel background.
    static const QColor &paper();
    // Card and capsule backgrounds.
    static const QColor &card();
    // Default text.
    static const QColor &ink();
    // Secondary text, captions, inactive tabs.
    static const QColor &muted();
    // Accent and window tint: selected tab, active markers.
    static const QColor &green();
    // Outlines and idle strokes.
    static const QColor &line();
    // The status line while a session clean-up failure is shown.
    static const QColor &error();
};
