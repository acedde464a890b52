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
        Layout.alignment: Qt.AlignVCenter
        name: HubIcons.name(header.icon)
        color: HubPalette.green
        sourceSize: Qt.size(12, 12)
    }
    AbstractButton {
        id: titleButton
        objectName: "sectionTitle"
        Layout.alignment: Qt.AlignVCenter
        Accessible.name: header.title
        padding: 0
        contentItem: Text {
            text: header.title
            textFormat: Text.PlainText
            font: HubFonts.font("default", 15, HubFonts.semibold)
            // The inherited text colour: the window's ink.
            color: titleButton.palette.windowText
        }
        onClicked: SectionTitles.pick(header.model, header.title)
    }
    // The caption takes the rest of the row, right-aligned; on a narrow card it is shortened rather
    // than widening the section past its card.
    Text {
        Layout.alignment: Qt.AlignVCenter
        Layout.fillWidth: true
        horizontalAlignment: Text.AlignRight
        elide: Text.ElideRight
        text: header.caption
        textFormat: Text.PlainText
        font: HubFonts.font("monospaced", 9)
        color: HubPalette.muted
    }
}
