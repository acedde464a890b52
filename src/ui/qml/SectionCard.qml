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

    // The fill, drawn cheaply: the cards cover most of the window and are drawn again in every frame
    // while the lanes animate. An antialiased rounded rectangle is blended over its whole area; here
    // only the four corner discs are (what shows of them is the rounded corner), and two opaque bands
    // cover the rest, hiding what lies beneath them from the renderer.
    Item {
        id: fill
        anchors.fill: parent
        readonly property real radius: 18

        Repeater {
            model: 4
            Rectangle {
                required property int index
                x: index % 2 === 0 ? 0 : fill.width - width
                y: index < 2 ? 0 : fill.height - height
                width: 2 * fill.radius
                height: 2 * fill.radius
                radius: fill.radius
                color: HubPalette.card
                antialiasing: true
            }
        }
        Rectangle {
            x: fill.radius
            width: fill.width - 2 * fill.radius
            height: fill.height
            color: HubPalette.card
        }
        Rectangle {
            y: fill.radius
            width: fill.width
            height: fill.height - 2 * fill.radius
            color: HubPalette.card
        }
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
