import QtQuick
import QtQuick.Layouts
import Tavrilo.Ui

// A section's card: it fills the region it is given however little it holds, with its content
// stacked top-left inside the inset, on a rounded card with a faint outline. Long content brings
// its own scrolling (WorkspaceViewport). A section that is one item fills the card's inner area
// (Layout.fillWidth and Layout.fillHeight) and lays its own rows out from the top.
Item {
    id: card
    required property string label
    property real inset: 21
    property real spacing: 16
    default property alias content: stack.data

    Accessible.role: Accessible.Grouping
    Accessible.name: qsTr(card.label)

    Rectangle {
        anchors.fill: parent
        color: HubPalette.card
        radius: 18
        antialiasing: true
    }
    // The outline is centred on the card's edge, half a point inside and half outside.
    Rectangle {
        anchors.fill: parent
        anchors.margins: -0.5
        color: "transparent"
        radius: 18.5
        border.width: 1
        border.color: Qt.rgba(HubPalette.line.r, HubPalette.line.g, HubPalette.line.b, HubPalette.line.a * 0.75)
        antialiasing: true
    }
    ColumnLayout {
        id: stack
        anchors.fill: parent
        anchors.margins: card.inset
        spacing: card.spacing
    }
}
