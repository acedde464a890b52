import QtQuick
import Tavrilo.Ui

// The capsule that says whether the window is signed in to a workspace: a coloured dot and a word
// or two, both chosen by a presenter.
Rectangle {
    id: label
    required property string text
    required property color dotColor

    implicitWidth: row.implicitWidth + 22
    implicitHeight: row.implicitHeight + 14
    radius: height / 2
    color: HubPalette.card
    border.width: 1
    border.color: HubPalette.line
    antialiasing: true

    Row {
        id: row
        anchors.centerIn: parent
        spacing: 6

        Rectangle {
            anchors.verticalCenter: parent.verticalCenter
            width: 5
            height: 5
            radius: 2.5
            color: label.dotColor
        }
        Text {
            anchors.verticalCenter: parent.verticalCenter
            text: label.text
            textFormat: Text.PlainText
            font: HubFonts.font("default", 10, HubFonts.medium)
            color: HubPalette.ink
        }
    }
}
