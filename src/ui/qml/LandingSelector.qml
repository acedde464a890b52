import QtQuick
import Tavrilo.Ui
import QtQuick.Controls

// The landing selector: shown until the user has entered a project. The brand and the status line
// stand here until the selector itself is built.
Item {
    id: selector
    required property var model
    required property HubViewState viewState

    Column {
        anchors.centerIn: parent
        spacing: 18

        HubBrand {
            anchors.horizontalCenter: parent.horizontalCenter
        }
        Label {
            objectName: "statusLine"
            anchors.horizontalCenter: parent.horizontalCenter
            width: Math.min(implicitWidth, selector.width - 48)
            text: selector.model.message
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            horizontalAlignment: Text.AlignHCenter
            color: HubPalette.muted
        }
    }
}
