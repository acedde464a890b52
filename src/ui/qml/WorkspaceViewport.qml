import QtQuick
import QtQuick.Controls
import Tavrilo.Ui

// The wrapper around a section's long content. On screen it scrolls along its axes with the
// indicators always shown and 8 points of room under the last row; rendered off screen it does not
// scroll: the content is laid out top-left and cut at the viewport's edges, so a frame never shows
// one section spilling over its neighbour.
Item {
    id: viewport
    required property bool offscreenExport
    property bool horizontal: false
    property bool vertical: true
    default property alias content: holder.data
    // The content's ideal size: its first child's implicit size.
    readonly property Item body: holder.children.length > 0 ? holder.children[0] : null

    clip: true

    Flickable {
        id: flick
        anchors.fill: parent
        interactive: !viewport.offscreenExport
        contentWidth: viewport.horizontal ? holder.width : width
        contentHeight: viewport.vertical || viewport.offscreenExport ? holder.height + (viewport.offscreenExport ? 0 : 8) : height
        flickableDirection: viewport.horizontal && viewport.vertical ? Flickable.HorizontalAndVerticalFlick
                          : viewport.horizontal ? Flickable.HorizontalFlick : Flickable.VerticalFlick
        boundsBehavior: Flickable.StopAtBounds
        ScrollBar.vertical: ScrollBar { policy: viewport.offscreenExport ? ScrollBar.AlwaysOff : ScrollBar.AlwaysOn }
        ScrollBar.horizontal: ScrollBar { policy: viewport.offscreenExport ? ScrollBar.AlwaysOff : ScrollBar.AlwaysOn }

        Item {
            id: holder
            width: viewport.horizontal ? (viewport.body ? viewport.body.implicitWidth : 0) : flick.width
            height: viewport.body ? viewport.body.implicitHeight : 0
        }
    }
}
