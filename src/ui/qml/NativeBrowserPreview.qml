import QtQuick
import QtWebEngine
import Tavrilo.Ui

// The live browser of the session's grant. The workspace tools load and blank the view; every
// navigation it is asked about, in any frame and after any redirect, goes only where
// WorkspaceNavigation allows. Its profile is its own and off the record.
Item {
    id: root

    required property NativeDocuments documents
    // The view itself, for tests and for frames of the window.
    readonly property alias view: view

    WebEngineProfile {
        id: profile
        offTheRecord: true
        onDownloadRequested: download => download.cancel()
    }

    WebEngineView {
        id: view
        anchors.fill: parent
        profile: profile
        onNavigationRequested: request => {
            if (!WorkspaceNavigation.allowsLiveView(request.url))
                request.reject();
        }
        // Nothing opens another window: the request is left unanswered.
        onNewWindowRequested: request => {}
    }

    LiveBrowserBridge {
        id: bridge
        view: view
        documents: root.documents
    }

    Component.onDestruction: bridge.stopLoading()
}
