import QtQuick
import QtQuick.Layouts
import QtQuick.Controls
import Tavrilo.Ui

// The specialists' live browser: open or refresh its secure view, take or hand back control, and
// the view itself (off screen: the frame the export captured, when it has one).
ColumnLayout {
    id: panel
    required property var model
    required property HubViewState viewState

    readonly property liveBrowserPanel view: WorkingMaterial.liveBrowser(
        model.controlsConnected, model.browserSessionPresent, model.documents.browserAvailable,
        model.browserHolder, model.controlInFlight, model.running, viewState.offscreenExport,
        model.hasCapturedBrowser)

    spacing: 16

    RowLayout {
        Layout.fillWidth: true
        Button {
            objectName: "openBrowser"
            text: panel.view.openTitle
            font: HubFonts.font("default", 10)
            enabled: panel.view.openEnabled
            onClicked: panel.model.actions.openWorkspaceBrowser()
        }
        Item {
            Layout.fillWidth: true
        }
        Button {
            objectName: "browserControl"
            text: panel.view.controlTitle
            font: HubFonts.font("default", 10)
            enabled: panel.view.controlEnabled
            onClicked: panel.model.actions.setBrowserHolder(WorkingMaterial.nextHolder(panel.model.browserHolder))
        }
    }

    Loader {
        objectName: "browserViewer"
        Layout.fillWidth: true
        Layout.fillHeight: true
        sourceComponent: panel.view.viewer === "captured" ? captured
                       : panel.view.viewer === "live" ? live
                       : explanation
    }

    Component {
        id: captured
        CapturedImage {
            clip: true
            model: panel.model
            source: "browser"
            topAligned: true
            Accessible.role: Accessible.Graphic
            Accessible.name: "Captured browser session snapshot"
        }
    }
    Component {
        id: live
        NativeBrowserPreview {
            documents: panel.model.documents
        }
    }
    Component {
        id: explanation
        Item {
            Text {
                objectName: "browserText"
                width: parent.width
                text: panel.view.viewerText
                textFormat: Text.PlainText
                font: HubFonts.font("default", 11)
                color: HubPalette.muted
                wrapMode: Text.Wrap
            }
        }
    }
}
