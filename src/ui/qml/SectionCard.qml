import QtQuick
import QtQuick.Layouts
import Tavrilo.Ui

// A section's card: it fills the region it is given however little it holds, with its content
// stacked top-left inside the inset, on a rounded card with a faint outline. Long content brings
// its own scrolling (WorkspaceViewport).
Rectangle {
    id: card
    required property string label
    property real inset: 21
    property real spacing: 16
    default property alias content: stack.data

    color: HubPalette.card
    radius: 18
    border.width: 1
    border.color: Qt.rgba(HubPalette.line.r, HubPalette.line.g, HubPalette.line.b, HubPalette.line.a * 0.75)
    antialiasing: true

    Accessible.role: Accessible.Grouping
    Accessible.name: qsTr(card.label)

    ColumnLayout {
        id: stack
        anchors.fill: parent
        anchors.margins: card.inset
        spacing: card.spacing
    }
}
