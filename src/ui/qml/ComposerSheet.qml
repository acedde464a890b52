import QtQuick
import Tavrilo.Ui
import QtQuick.Controls
import QtQuick.Layouts

// The composer: the workforce task, or an interjection for the running turn. Task edits reach the
// model as they are typed; the interjection text is the view state's and outlives the sheet.
Popup {
    id: sheet
    required property var model
    required property HubViewState viewState

    modal: true
    anchors.centerIn: Overlay.overlay
    padding: 24
    // A dismissal by the platform (Escape, a click outside) only closes the sheet.
    onClosed: viewState.showingComposer = false
    // The sheet opens to be typed into.
    onOpened: composerText.forceActiveFocus()

    Connections {
        target: sheet.viewState
        function onShowingComposerChanged() {
            if (sheet.viewState.showingComposer)
                sheet.open()
            else
                sheet.close()
        }
    }

    background: Rectangle {
        color: HubPalette.card
        border.color: HubPalette.line
        radius: 12
    }

    ColumnLayout {
        spacing: 16

        Label {
            text: sheet.viewState.composerTitle(sheet.viewState.composingInterjection)
            font: HubFonts.font("default", 17, HubFonts.semibold)
        }
        ScrollView {
            Layout.minimumWidth: 480
            Layout.minimumHeight: 180
            TextArea {
                id: composerText
                objectName: "composerText"
                textFormat: TextEdit.PlainText
                wrapMode: TextEdit.Wrap
                text: sheet.viewState.composingInterjection ? sheet.viewState.interjectionText : sheet.model.prompt
                onTextChanged: {
                    if (sheet.viewState.composingInterjection)
                        sheet.viewState.interjectionText = text
                    else if (sheet.model.prompt !== text)
                        sheet.model.prompt = text
                }
            }
        }
        RowLayout {
            Layout.fillWidth: true
            Button {
                text: qsTr("Cancel")
                onClicked: sheet.viewState.cancelComposer()
            }
            Item {
                Layout.fillWidth: true
            }
            Button {
                objectName: "composerPrimary"
                highlighted: true
                text: sheet.viewState.composerPrimaryLabel(sheet.viewState.composingInterjection)
                enabled: sheet.viewState.composerPrimaryEnabled(sheet.viewState.composingInterjection,
                                                                 sheet.model.controlsConnected,
                                                                 sheet.viewState.interjectionText)
                onClicked: sheet.viewState.composerPrimary()
            }
        }
    }
}
