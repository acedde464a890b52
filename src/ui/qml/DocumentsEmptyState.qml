import QtQuick
import QtQuick.Layouts
import QtQuick.Controls
import QtQuick.Controls.impl
import Tavrilo.Ui

// What the documents card shows when its tab has nothing to show: the tab's symbol, two fixed
// texts and, on the research tab, the way to open a document.
Item {
    id: empty
    required property var model
    required property string icon
    required property bool openButtonShown

    ColumnLayout {
        anchors.centerIn: parent
        width: Math.min(parent.width, 300)
        spacing: 11

        IconImage {
            objectName: "emptyIcon"
            readonly property string symbol: empty.icon
            Layout.alignment: Qt.AlignHCenter
            name: HubIcons.name(empty.icon)
            color: HubPalette.muted
            sourceSize: Qt.size(27, 27)
        }
        Text {
            Layout.alignment: Qt.AlignHCenter
            text: qsTr("Research documents")
            textFormat: Text.PlainText
            font: HubFonts.font("default", 13, HubFonts.medium)
            color: HubPalette.ink
        }
        Text {
            Layout.fillWidth: true
            text: qsTr("Open a project document or PDF to read it alongside the live workspace.")
            textFormat: Text.PlainText
            font: HubFonts.font("default", 10)
            color: HubPalette.muted
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
        }
        Button {
            objectName: "openADocument"
            Layout.alignment: Qt.AlignHCenter
            visible: empty.openButtonShown
            text: qsTr("Open a document")
            font: HubFonts.font("default", 10)
            horizontalPadding: 10
            onClicked: empty.model.actions.openDocument()
        }
    }
}
