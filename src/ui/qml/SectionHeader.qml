import QtQuick
import QtQuick.Layouts
import QtQuick.Controls
import QtQuick.Controls.impl
import Tavrilo.Ui

// The title row every section card opens with: symbol, title button, caption. Pressing the title
// makes its section the expanded one; only the stored value is lower-cased.
RowLayout {
    id: header
    required property var model
    required property string title
    required property string caption
    required property string icon

    Layout.fillWidth: true
    spacing: 8

    IconImage {
        name: HubIcons.name(header.icon)
        color: HubPalette.green
        sourceSize: Qt.size(12, 12)
    }
    AbstractButton {
        objectName: "sectionTitle"
        Accessible.name: header.title
        contentItem: Text {
            text: header.title
            textFormat: Text.PlainText
            font: HubFonts.font("default", 15, HubFonts.semibold)
            color: header.palette.windowText
        }
        onClicked: header.model.expandedInspector = header.title.toLowerCase()
    }
    Item {
        Layout.fillWidth: true
    }
    Text {
        text: header.caption
        textFormat: Text.PlainText
        font: HubFonts.font("monospaced", 9)
        color: HubPalette.muted
    }
}
