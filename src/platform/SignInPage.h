#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QtQml/qqmlregistration.h>

// What the sign-in window binds to: its first page and the rule that keeps it on the sign-in
// hosts. The window forwards its browser view's requests here; the decisions are made here.
class SignInPage : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("A sign-in page belongs to its sign-in session.")
    Q_PROPERTY(QUrl url READ url CONSTANT)

public:
    SignInPage(QUrl url, QString callbackScheme, QStringList allowedHosts, QObject *parent = nullptr);

    QUrl url() const { return m_url; }

    // Only https pages of the allowed hosts load, and a top-level navigation to the callback
    // scheme, which the session's scheme handler catches instead of loading it.
    Q_INVOKABLE bool acceptsNavigation(const QUrl &url, bool isMainFrame) const;
    // The page's renderer process is gone: the page can no longer reach the callback.
    Q_INVOKABLE void renderProcessEnded();

Q_SIGNALS:
    void ended();

private:
    QUrl m_url;
    QString m_callbackScheme;
    QStringList m_allowedHosts;
};
