import QtQuick
import Tavrilo.Ui
import QtQuick.Controls.impl

// The product mark of the landing selector and the header.
Row {
    spacing: 10

    IconImage {
        anchors.verticalCenter: parent.verticalCenter
        name: HubIcons.name("waveform.path")
        color: HubPalette.green
        sourceSize: Qt.size(21, 21)
    }
    Text {
        anchors.verticalCenter: parent.verticalCenter
        text: "Tavrilo"
        textFormat: Text.PlainText
        color: HubPalette.ink
        font.family: HubFonts.roundedFamily
        font.pixelSize: 24
        font.weight: HubFonts.semibold
        font.letterSpacing: -1
    }
    Text {
        anchors.verticalCenter: parent.verticalCenter
        text: "CODE"
        textFormat: Text.PlainText
        color: HubPalette.muted
        font.family: HubFonts.monospacedFamily
        font.pixelSize: 9
        font.weight: HubFonts.semibold
        font.letterSpacing: 2
    }
}
