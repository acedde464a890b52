// Renders the sample workspace screen into a PNG, for the demo and the benchmarks.
//   sampleshot <output.png> [scale]
#include "SampleScreen.h"

#include <QGuiApplication>
#include <QTextStream>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    QTextStream err(stderr);
    if (arguments.size() < 2 || arguments.size() > 3) {
        err << "Usage: sampleshot <output.png> [scale 1..2]" << Qt::endl;
        return 2;
    }
    bool ok = true;
    const int scale = arguments.size() == 3 ? arguments[2].toInt(&ok) : 1;
    if (!ok || scale < 1 || scale > 2) {
        err << "The scale must be 1 or 2." << Qt::endl;
        return 2;
    }
    if (!SampleScreen::render(scale).save(arguments[1], "PNG")) {
        err << "Could not write " << arguments[1] << "." << Qt::endl;
        return 1;
    }
    return 0;
}
