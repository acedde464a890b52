#pragma once

#include "session/OpenPanels.h"

#include <QPointer>
#include <QQmlEngine>
#include <QQuickWindow>

#include <vector>

// The folder and document choosers as Qt Quick Dialogs, modal to the hub's window. Each choice makes
// its own dialog from the module's component, opens it and ends when the user accepts or cancels
// it; the dialog goes when its choice has ended. A dialog destroyed while its choice waits (with the
// window, or with these panels) ends that choice as cancelled.
class QuickOpenPanels : public OpenPanels
{
public:
    // `engine` imports the module from its resources ("qrc:/qt/qml").
    explicit QuickOpenPanels(QQmlEngine *engine);
    // Destroys the dialogs still open.
    ~QuickOpenPanels() override;
    QuickOpenPanels(const QuickOpenPanels &) = delete;
    QuickOpenPanels &operator=(const QuickOpenPanels &) = delete;

    // The window the dialogs belong to; set once the window exists. Without one, or once it is
    // gone, a choice ends as cancelled at once.
    void setWindow(QQuickWindow *window);

    QCoro::Task<std::optional<QUrl>> chooseFolder(QString message) override;
    QCoro::Task<std::optional<QUrl>> chooseDocument() override;

private:
    // The open dialog of `file` in the module, with `properties`; null when it could not be shown.
    QObject *open(const QString &file, const QVariantMap &properties);

    QPointer<QQmlEngine> m_engine;
    QPointer<QQuickWindow> m_window;
    std::vector<QPointer<QObject>> m_dialogs;
};
