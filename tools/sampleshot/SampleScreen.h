#pragma once

#include <QImage>

// A dense, made-up workspace screen: sidebar, header, cards, a table, buttons and form fields,
// with a few copy defects of the kind the vision command reports. Drawn at 1440 x 900 points
// times `scale`. Needs a QGuiApplication (fonts).
class SampleScreen
{
public:
    SampleScreen() = delete;

    static QImage render(int scale);
};
