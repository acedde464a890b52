#pragma once

#include "ui/PageLoadDeadline.h"
#include "workspace/LiveBrowserView.h"
#include "workspace/NativeDocuments.h"

#include <QPointer>
#include <QtQml/qqml.h>

// The workspace tools' model, as the views know it; the session model owns it.
struct NativeDocumentsForeign
{
    Q_GADGET
    QML_FOREIGN(NativeDocuments)
    QML_NAMED_ELEMENT(NativeDocuments)
    QML_UNCREATABLE("The session model owns the workspace tools.")
};

// Hands the live browser's web view to the workspace tools, which load and blank it: attached on
// creation and again whenever the grant changes (the tools reload only a new view or a new grant).
class LiveBrowserBridge : public LiveBrowserView
{
    Q_OBJECT
    QML_ELEMENT
    // The WebEngineView it drives.
    Q_PROPERTY(QObject *view READ view WRITE setView NOTIFY viewChanged)
    Q_PROPERTY(NativeDocuments *documents READ documents WRITE setDocuments NOTIFY documentsChanged)

public:
    using LiveBrowserView::LiveBrowserView;

    QObject *view() const { return m_page.view(); }
    void setView(QObject *view);
    NativeDocuments *documents() const { return m_documents; }
    void setDocuments(NativeDocuments *documents);

    Q_INVOKABLE void stopLoading() override;
    // "about:blank": the empty document without a base address that an empty HTML string gives, under
    // the address the navigation rule admits for it.
    void loadBlank() override;
    void loadPage(const QUrl &url, std::chrono::milliseconds timeout) override;

Q_SIGNALS:
    void viewChanged();
    void documentsChanged();

private:
    void attach();

    PageLoadDeadline m_page;
    QPointer<NativeDocuments> m_documents;
    QMetaObject::Connection m_grantChanges;
};

// The navigation rules of the workspace's web views, decided here for the views to apply to every
// navigation they are asked about.
class WorkspaceNavigation : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    using QObject::QObject;

    // The live browser view: the blank page or the live-view page, in any frame and after any
    // redirect.
    Q_INVOKABLE static bool allowsLiveView(const QUrl &url);
    // The page of an input request: https pages in the top-level frame.
    Q_INVOKABLE static bool allowsInputRequest(const QUrl &url, bool isMainFrame);
};
