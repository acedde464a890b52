import QtQuick
import QtWebEngine
import Tavrilo.Ui

// The page of an input request that carries an address: loaded once, when the view is made, and
// stopped when it has not loaded within `loadTimeout` milliseconds (a minute). An agent supplies
// the address, so the page goes only to https pages at the top level: no frames of other pages, no
// new windows, no downloads, no local files. Its profile is its own and off the record.
Item {
    id: root

    required property url url
    property alias loadTimeout: deadline.timeout
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
            if (!WorkspaceNavigation.allowsInputRequest(request.url, request.isMainFrame))
                request.reject();
        }
        onNewWindowRequested: request => {}
        Component.onCompleted: deadline.load(root.url)
    }

    PageLoadDeadline {
        id: deadline
        view: view
    }

    Component.onDestruction: deadline.stop()
}
