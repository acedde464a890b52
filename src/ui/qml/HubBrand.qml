import QtQuick
import Tavrilo.Ui
import QtQuick.Shapes

// The product mark of the landing selector and the header.
Row {
    spacing: 10

    // The mark is a waveform: the theme has no icon that reads as one (its nearest are a speaker,
    // signal bars and wind), so it is drawn here, one stroke of the symbols' weight in the brand
    // green.
    Shape {
        objectName: "brandWaveform"
        anchors.verticalCenter: parent.verticalCenter
        width: 21
        height: 21
        antialiasing: true
        ShapePath {
            strokeColor: HubPalette.green
            strokeWidth: 2
            fillColor: "transparent"
            capStyle: ShapePath.RoundCap
            joinStyle: ShapePath.RoundJoin
            PathPolyline {
                path: [Qt.point(1, 10.5), Qt.point(4.5, 10.5), Qt.point(7, 5), Qt.point(10, 17.5),
                       Qt.point(13, 2.5), Qt.point(15.5, 14), Qt.point(17.5, 10.5), Qt.point(20, 10.5)]
            }
        }
    }
    Text {
        objectName: "brandWord"
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
