import QtQuick
import QtQuick.Layouts
import QtQuick.Controls
import Tavrilo.Ui

// The session's remote build shell: its state, open or reconnect and close, the transcript, and a
// line to send. The transcript is a list of its lines, so only the lines on screen are laid out
// however much output flows; nothing scrolls it to its end by itself.
ColumnLayout {
    id: panel
    required property var model
    required property HubViewState viewState

    // The model's `documents`: the shell it shows and drives.
    required property var documents
    readonly property buildShellPanel view: WorkingMaterial.buildShell(model.controlsConnected, model.running,
                                                                       documents.shellID, documents.shellReady)

    BuildShellActions {
        id: actions
        objectName: "shellActions"
        model: panel.model
        viewState: panel.viewState
    }

    RowLayout {
        Layout.fillWidth: true
        Text {
            objectName: "shellStatus"
            text: panel.documents.shellStatus
            textFormat: Text.PlainText
            font: HubFonts.font("default", 10)
            color: HubPalette.muted
        }
        Item {
            Layout.fillWidth: true
        }
        Button {
            objectName: "openShell"
            text: panel.view.openTitle
            enabled: panel.view.openEnabled
            onClicked: panel.model.actions.openWorkspaceShell()
        }
        Button {
            objectName: "closeShell"
            text: qsTr("Close")
            visible: panel.view.closeShown
            onClicked: actions.close()
        }
    }

    Rectangle {
        Layout.fillWidth: true
        Layout.fillHeight: true
        color: HubPalette.ink
        radius: 8
        antialiasing: true

        ListView {
            id: transcript
            objectName: "shellTranscript"
            anchors.fill: parent
            anchors.margins: 12
            clip: true
            model: panel.documents.shellLines
            interactive: !panel.viewState.offscreenExport
            boundsBehavior: Flickable.StopAtBounds
            ScrollBar.vertical: ScrollBar {
                policy: panel.viewState.offscreenExport ? ScrollBar.AlwaysOff : ScrollBar.AlwaysOn
            }
            footer: Item {
                height: panel.viewState.offscreenExport ? 0 : 8
            }
            delegate: TextEdit {
                // The row's roles ("text"), which a TextEdit's own `text` would hide.
                required property var model
                width: transcript.width
                text: model.text
                textFormat: TextEdit.PlainText
                font: HubFonts.font("monospaced", 11)
                color: HubPalette.paper
                selectionColor: HubPalette.green
                wrapMode: TextEdit.WrapAnywhere
                readOnly: true
                selectByMouse: true
            }
        }
        Text {
            objectName: "shellPlaceholder"
            anchors.fill: parent
            anchors.margins: 12
            visible: transcript.count === 0
            text: qsTr("Shell output appears here after connection.")
            textFormat: Text.PlainText
            font: HubFonts.font("monospaced", 11)
            color: HubPalette.paper
            wrapMode: Text.Wrap
        }
    }

    RowLayout {
        Layout.fillWidth: true
        TextField {
            objectName: "shellInput"
            Layout.fillWidth: true
            visible: !panel.viewState.offscreenExport
            placeholderText: qsTr("Shell input")
            font: HubFonts.font("monospaced", 11)
            text: panel.viewState.shellInput
            onTextEdited: panel.viewState.shellInput = text
            onAccepted: actions.send()
        }
        // Off screen the field is drawn as a picture of itself.
        Rectangle {
            Layout.fillWidth: true
            visible: panel.viewState.offscreenExport
            implicitHeight: still.implicitHeight + 8
            color: HubPalette.paper
            radius: 4
            border.width: 1
            border.color: HubPalette.line
            Text {
                id: still
                anchors.fill: parent
                anchors.leftMargin: 6
                anchors.rightMargin: 6
                anchors.topMargin: 4
                anchors.bottomMargin: 4
                text: panel.viewState.shellInput.length > 0 ? panel.viewState.shellInput : qsTr("Shell input")
                textFormat: Text.PlainText
                font: HubFonts.font("monospaced", 11)
                color: panel.viewState.shellInput.length > 0 ? HubPalette.ink : HubPalette.muted
                elide: Text.ElideRight
            }
        }
        Button {
            objectName: "sendShell"
            text: qsTr("Send")
            enabled: panel.view.sendEnabled
            onClicked: actions.send()
        }
    }
}
