import QtQuick
import QtQuick.Controls
import Tavrilo.Ui

// The wrapper around a section's long content. On screen it scrolls along its axes with the
// indicators always shown and 8 points of room under the last row; rendered off screen it does not
// scroll: the content is laid out top-left and cut at the viewport's edges, so a frame never shows
// one section spilling over its neighbour. The content is one item laid out at its implicit size
// (given the viewport's width unless the viewport scrolls horizontally; on screen, less the width
// of the vertical scroll bar).
Item {
    id: viewport
    required property bool offscreenExport
    property bool horizontal: false
    property bool vertical: true
    default property alias content: holder.data
    readonly property Item body: holder.children.length > 0 ? holder.children[0] : null

    clip: true

    Flickable {
        id: flick
        objectName: "viewportFlickable"
        anchors.fill: parent
        interactive: !viewport.offscreenExport
        contentWidth: holder.width
        contentHeight: viewport.vertical && !viewport.offscreenExport ? holder.height + 8 : holder.height
        flickableDirection: viewport.horizontal && viewport.vertical ? Flickable.HorizontalAndVerticalFlick
                          : viewport.horizontal ? Flickable.HorizontalFlick : Flickable.VerticalFlick
        boundsBehavior: Flickable.StopAtBounds
        ScrollBar.vertical: ScrollBar {
            id: verticalBar
            policy: viewport.offscreenExport ? ScrollBar.AlwaysOff : ScrollBar.AlwaysOn
        }
        ScrollBar.horizontal: ScrollBar { policy: viewport.offscreenExport ? ScrollBar.AlwaysOff : ScrollBar.AlwaysOn }

        Item {
            id: holder
            // The vertical bar is always shown on screen; the content keeps clear of it, or the ends of
            // its right-aligned texts lay under the bar.
            width: viewport.horizontal ? (viewport.body ? viewport.body.implicitWidth : 0)
                 : flick.width - (viewport.offscreenExport || !viewport.vertical ? 0 : verticalBar.width)
            height: viewport.body ? viewport.body.implicitHeight : 0
        }
    }
    Binding {
        target: viewport.body
        property: "width"
        value: holder.width
        when: viewport.body !== null
    }
}
