import QtQuick
import QtQuick.Layouts
import QtQuick.Controls
import QtQuick.Controls.impl
import Tavrilo.Ui

// The working material's tabs and the "Open document" button, over a hairline. The selected tab is
// the model's `selectedDocumentTab`; a value outside the list highlights none.
Item {
    id: strip
    required property var model

    implicitHeight: row.implicitHeight

    Rectangle {
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        height: 0.5
        color: HubPalette.line
    }

    RowLayout {
        id: row
        anchors.left: parent.left
        anchors.right: parent.right
        spacing: 17

        Repeater {
            model: WorkingMaterial.tabs
            delegate: AbstractButton {
                id: tab
                required property string modelData
                readonly property bool selected: modelData === strip.model.selectedDocumentTab
                objectName: "tab:" + modelData
                Accessible.name: modelData
                Accessible.role: Accessible.PageTab
                Accessible.selected: selected
                contentItem: Text {
                    text: tab.modelData
                    textFormat: Text.PlainText
                    font: HubFonts.font("default", 10, tab.selected ? HubFonts.semibold : HubFonts.regular)
                    color: tab.selected ? HubPalette.green : HubPalette.muted
                    bottomPadding: 8
                }
                Rectangle {
                    anchors.left: parent.left
                    anchors.right: parent.right
                    anchors.bottom: parent.bottom
                    height: 2
                    color: HubPalette.green
                    visible: tab.selected
                }
                onClicked: strip.model.selectedDocumentTab = modelData
            }
        }
        Item {
            Layout.fillWidth: true
        }
        AbstractButton {
            objectName: "openDocument"
            Accessible.name: "Open document"
            Layout.alignment: Qt.AlignVCenter
            contentItem: IconImage {
                name: HubIcons.name("plus")
                color: HubPalette.ink
                sourceSize: Qt.size(12, 12)
            }
            onClicked: strip.model.actions.openDocument()
        }
    }
}
