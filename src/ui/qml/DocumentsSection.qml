import QtQuick
import QtQuick.Layouts
import QtQuick.Controls
import QtQuick.Controls.impl
import Tavrilo.Ui

// The documents card's content: the working material (research document, changes, live browser,
// build shell). Which panel shows is decided in C++ (`WorkingMaterial.documents`); this file lays
// out the header, the tab strip, the document's name line and the chosen panel.
ColumnLayout {
    id: section
    required property var model
    required property HubViewState viewState

    readonly property documentsPanel view: WorkingMaterial.documents(model.selectedDocumentTab, model.document,
                                                                     model.documentURL, viewState.offscreenExport,
                                                                     model.hasCapturedPDF)

    spacing: 16

    SectionHeader {
        model: section.model
        title: "Documents"
        caption: "WORKING MATERIAL"
        icon: "doc.on.doc"
    }

    DocumentsTabStrip {
        Layout.fillWidth: true
        model: section.model
    }

    RowLayout {
        objectName: "documentNameLine"
        Layout.fillWidth: true
        visible: section.view.nameLineShown
        spacing: 6

        IconImage {
            name: HubIcons.name("doc.text")
            color: HubPalette.muted
            sourceSize: Qt.size(10, 10)
        }
        Text {
            Layout.fillWidth: true
            text: section.view.fileName
            textFormat: Text.PlainText
            font: HubFonts.font("monospaced", 10)
            color: HubPalette.muted
            elide: Text.ElideMiddle
            maximumLineCount: 1

            HoverHandler { id: nameHover }
            ToolTip.visible: nameHover.hovered && truncated
            ToolTip.text: section.view.fileName
        }
    }

    // The panel slot; a new tab fades in with the window's standard curve (not under reduced
    // motion, nor off screen, where the duration is 0).
    Loader {
        id: panel
        objectName: "documentsPanel"
        Layout.fillWidth: true
        Layout.fillHeight: true
        readonly property string kind: section.view.panel
        sourceComponent: kind === "browser" ? browserPanel
                       : kind === "shell" ? shellPanel
                       : kind === "changes" ? changesPanel
                       : kind === "pdf" ? pdfPanel
                       : kind === "capturedPDF" ? capturedPDFPanel
                       : kind === "text" ? textPanel
                       : emptyPanel
        onKindChanged: {
            fade.stop()
            if (section.viewState.curveMilliseconds > 0)
                fade.start()
        }

        NumberAnimation {
            id: fade
            target: panel
            property: "opacity"
            from: 0
            to: 1
            duration: section.viewState.curveMilliseconds
            easing.type: section.viewState.standardCurve.length > 0 ? Easing.BezierSpline : Easing.Linear
            easing.bezierCurve: section.viewState.standardCurve
        }
    }

    Component {
        id: browserPanel
        BrowserPanel {
            objectName: "browserPanel"
            model: section.model
            viewState: section.viewState
        }
    }
    Component {
        id: shellPanel
        BuildShellPanel {
            objectName: "shellPanel"
            model: section.model
            viewState: section.viewState
            documents: section.model.documents
        }
    }
    Component {
        id: changesPanel
        ChangesPanel {
            objectName: "changesPanel"
            model: section.model
            viewState: section.viewState
        }
    }
    Component {
        id: pdfPanel
        NativePDFDocument {
            objectName: "pdfPanel"
            url: section.model.documentURL
        }
    }
    Component {
        id: capturedPDFPanel
        CapturedImage {
            objectName: "capturedPDFPanel"
            model: section.model
            source: "pdf"
        }
    }
    Component {
        id: textPanel
        WorkspaceViewport {
            objectName: "textPanel"
            offscreenExport: section.viewState.offscreenExport
            TextEdit {
                objectName: "documentText"
                width: parent.width
                text: section.model.document
                textFormat: TextEdit.PlainText
                font: HubFonts.font("monospaced", 11)
                color: HubPalette.ink
                wrapMode: TextEdit.Wrap
                readOnly: true
                selectByMouse: true
            }
        }
    }
    Component {
        id: emptyPanel
        DocumentsEmptyState {
            objectName: "emptyPanel"
            model: section.model
            icon: section.view.icon
            openButtonShown: section.view.openButtonShown
        }
    }
}
