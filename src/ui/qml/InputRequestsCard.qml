import QtQuick
import QtQuick.Layouts
import Tavrilo.Ui

// The runtime input requests still pending, with their fields and the two answers. The gates
// section places it inside its paper card frame.
ColumnLayout {
    id: card
    required property var model
    required property HubViewState viewState

    spacing: 8
}
