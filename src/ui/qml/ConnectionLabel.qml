import QtQuick
import Tavrilo.Ui

// The signed-in capsule of the landing selector and the header: a dot and a word, both chosen by
// the presenters (`connectionText`, `connectionDotColor`).
Rectangle {
    id: capsule
    property string text
    property color dotColor

    implicitWidth: row.implicitWidth + 22
    implicitHeight: row.implicitHeight + 14
    radius: height / 2
    color: HubPalette.card
    border.color: HubPalette.line
    border.width: 1
    Accessible.role: Accessible.StaticText
    Accessible.name: capsule.text

    Row {
        id: row
        anchors.centerIn: parent
        spacing: 6

        Rectangle {
            anchors.verticalCenter: parent.verticalCenter
            width: 5
            height: 5
            radius: 2.5
            color: capsule.dotColor
        }
        Text {
            anchors.verticalCenter: parent.verticalCenter
            text: capsule.text
            textFormat: Text.PlainText
            font: HubFonts.font("default", 10, HubFonts.medium)
            color: HubPalette.ink
        }
    }
}
