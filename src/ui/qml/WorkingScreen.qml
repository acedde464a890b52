import QtQuick
import Tavrilo.Ui
import QtQuick.Controls

// The working screen: shown once the user has entered a project. It carries its own insets (18
// points left and right, 8 at the top); the root view adds none.
Item {
    id: working
    required property var model
    required property HubViewState viewState

    Label {
        anchors.centerIn: parent
        text: working.model.message
        textFormat: Text.PlainText
        color: HubPalette.muted
    }
}
