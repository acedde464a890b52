import QtQuick
import QtQuick.Controls
import QtQuick.Controls.impl
import QtQuick.Layouts
import Tavrilo.Ui

// The thinking disclosure: its header, and below it the turn's reasoning while it is open. The
// reasoning is appended as it streams in, never laid out whole again; `thinkingDisclosure(...)`
// decides what shows. Pressing the header asks the root view to store the user's own choice.
ColumnLayout {
    id: root

    required property GatesPresenter presenter
    required property bool offscreenExport
    readonly property thinkingDisclosure thinking: presenter.thinking
    signal overrideChosen(bool open)

    spacing: 16

    AbstractButton {
        objectName: "thinkingHeader"
        Layout.fillWidth: true
        Accessible.role: Accessible.Button
        Accessible.name: qsTr("Thinking")
        onClicked: root.overrideChosen(root.thinking.overrideOnPress)
        contentItem: RowLayout {
            spacing: 6
            IconImage {
                name: HubIcons.name(root.thinking.chevronSymbol)
                color: HubPalette.ink
                sourceSize: Qt.size(10, 10)
            }
            Text {
                text: qsTr("Thinking")
                font: HubFonts.font("default", 10)
                color: HubPalette.ink
            }
            Item { Layout.fillWidth: true }
            Text {
                objectName: "thinkingCaption"
                text: root.thinking.caption
                textFormat: Text.PlainText
                font: HubFonts.font("default", 10)
                color: HubPalette.muted
            }
        }
    }

    Text {
        visible: root.thinking.showEmptyText
        text: qsTr("No reasoning content received.")
        font: HubFonts.font("default", 10)
        color: HubPalette.muted
    }

    // Exactly 190 points off screen, where the top of the text is drawn and the rest cut off; at
    // most 190 in the window, where it scrolls.
    WorkspaceViewport {
        objectName: "thinkingBody"
        visible: root.thinking.showReasoning
        offscreenExport: root.offscreenExport
        Layout.fillWidth: true
        Layout.preferredHeight: root.thinking.viewportHeightFixed ? 190 : Math.min(190, reasoning.implicitHeight + 8)

        TextEdit {
            id: reasoning
            objectName: "reasoningText"
            width: parent ? parent.width : 0
            textFormat: TextEdit.PlainText
            readOnly: true
            selectByMouse: true
            wrapMode: TextEdit.Wrap
            font: HubFonts.font("default", 10)
            color: HubPalette.muted
            Component.onCompleted: text = root.presenter.reasoningText
        }
    }

    Connections {
        target: root.presenter
        function onReasoningAppended(text) { reasoning.insert(reasoning.length, text) }
        function onReasoningReset() { reasoning.text = root.presenter.reasoningText }
    }
}
