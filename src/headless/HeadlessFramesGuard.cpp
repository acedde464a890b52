#include "headless/HeadlessFrames.h"

#include "core/HubError.h"
#include "core/Json.h"
#include "headless/WriteLine.h"

#include <QGuiApplication>
#include <QWindow>

#include <algorithm>

#include <unistd.h>

namespace
{
constexpr qsizetype kDescribedWindows = 12;
constexpr qsizetype kClassNameLength = 100;

} // namespace

HeadlessFrames::WindowCensus HeadlessFrames::windowCensus()
{
    WindowCensus census;
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return census;
    const QWindow *focus = QGuiApplication::focusWindow();
    for (QWindow *window : QGuiApplication::allWindows()) {
        // Only a window the platform knows can appear; asking for the id of any other would make it.
        if (!window->handle())
            continue;
        census.windows.append(WindowDescription{QString::fromLatin1(window->metaObject()->className()),
                                                qint64(window->winId()), window->isVisible(), window == focus,
                                                window->isActive()});
        if (window->isVisible())
            ++census.visible;
    }
    census.frontmost = focus != nullptr || QGuiApplication::applicationState() == Qt::ApplicationActive;
    return census;
}

HeadlessFrames::GuardRefusal HeadlessFrames::guardRefusal(const WindowCensus &census, qint64 windowsBefore,
                                                          const QString &phase)
{
    Json windows = Json::array();
    for (const WindowDescription &window : census.windows.first(std::min(census.windows.size(), kDescribedWindows))) {
        windows.push_back({{"class", window.className.left(kClassNameLength).toStdString()},
                           {"number", window.number},
                           {"visible", window.visible},
                           {"key", window.key},
                           {"main", window.main}});
    }
    const qint64 after = census.windows.size();
    const Json record{{"phase", phase.toStdString()}, {"before", windowsBefore},       {"after", after},
                      {"visible", census.visible},    {"frontmost", census.frontmost}, {"windows", windows}};
    GuardRefusal refusal;
    refusal.line = QByteArrayLiteral("CAPTURE_WINDOW_GUARD ") + json::dump(record) + '\n';
    // Joined, not formatted: a phase may hold what a format would read as a placeholder.
    refusal.sentence = QStringLiteral("Offscreen guard refused ") + phase + QStringLiteral(": windows ") +
                       QString::number(windowsBefore) + QChar(0x2192) + QString::number(after) +
                       QStringLiteral(", visible ") + QString::number(census.visible) + QStringLiteral(", frontmost ") +
                       (census.frontmost ? QStringLiteral("true") : QStringLiteral("false")) +
                       QStringLiteral(". No staged frames were published.");
    return refusal;
}

OffscreenWindowProof HeadlessFrames::requireOffscreen(const WindowCensus &census, qint64 windowsBefore,
                                                      const QString &phase)
{
    const OffscreenWindowProof proof{windowsBefore, census.windows.size(), census.visible, census.frontmost};
    if (proof.valid())
        return proof;
    const GuardRefusal refusal = guardRefusal(census, windowsBefore, phase);
    writeLine(STDERR_FILENO, refusal.line);
    throw HubError(refusal.sentence);
}

OffscreenWindowProof HeadlessFrames::requireOffscreen(qint64 windowsBefore, const QString &phase)
{
    return requireOffscreen(windowCensus(), windowsBefore, phase);
}
