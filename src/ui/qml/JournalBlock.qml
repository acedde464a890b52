import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tavrilo.Ui

// The "LOCAL JOURNAL" header and the newest rows, as `NativeJournalPresentation::block` gives them;
// the rows come as a list model that changes by rows.
ColumnLayout {
    id: root

    property journalBlock journal
    property KeyedListModel rows

    spacing: 16

    RowLayout {
        Layout.fillWidth: true
        Label {
            text: qsTr("LOCAL JOURNAL")
            font.family: HubFonts.monospacedFamily
            font.pixelSize: 8
            font.letterSpacing: 1
            color: HubPalette.muted
        }
        // The count takes the rest of the row, right-aligned, and wraps on a narrow card rather
        // than widening the section past it.
        Label {
            Layout.fillWidth: true
            horizontalAlignment: Text.AlignRight
            wrapMode: Text.Wrap
            text: root.journal.countText
            textFormat: Text.PlainText
            font.family: HubFonts.monospacedFamily
            font.pixelSize: 8
            color: HubPalette.muted
        }
    }

    Repeater {
        model: root.rows
        delegate: ColumnLayout {
            id: row
            required property string headline
            required property string detail
            Layout.fillWidth: true
            spacing: 5
            Label {
                text: row.headline
                textFormat: Text.PlainText
                font.family: HubFonts.defaultFamily
                font.pixelSize: 10
                font.weight: HubFonts.semibold
                color: HubPalette.ink
            }
            Label {
                Layout.fillWidth: true
                text: row.detail
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                maximumLineCount: 2
                elide: Text.ElideRight
                font.family: HubFonts.defaultFamily
                font.pixelSize: 9
                color: HubPalette.muted
            }
        }
    }
}
