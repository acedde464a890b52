import QtQuick
import QtQuick.Controls
import QtQuick.Controls.impl
import QtQuick.Layouts
import Tavrilo.Ui

// The positions table, as `positionsBlock(...)` gives it; its rows come as a list model that changes
// by rows. Pressing a row asks the root view to toggle its owner.
ColumnLayout {
    id: root

    property positionsBlock block
    property KeyedListModel rows
    signal ownerToggled(string owner)

    spacing: 9

    readonly property font columnFont: HubFonts.font("monospaced", 8, HubFonts.medium)
    readonly property font rowFont: HubFonts.font("default", 9)

    // The three value columns are 75, 95 and 95 points wide while the position text keeps room
    // for a readable line beside them. A narrower card (the events region of a 1440-point window
    // leaves about 300) would squeeze the text to a few letters, so there the row wraps: the
    // owner's name shares the first line with the values, in columns scaled down to what the
    // card has, and the position text takes the whole width below them.
    readonly property var valueWidths: [75, 95, 95]
    readonly property real columnSpacing: 5
    readonly property real readableText: 140
    readonly property real nameColumn: 70
    readonly property real valuesWidth: valueWidths[0] + valueWidths[1] + valueWidths[2] + 3 * columnSpacing
    readonly property bool wrapped: width < valuesWidth + readableText
    readonly property real valueScale: wrapped ? Math.max(0, Math.min(1, (width - nameColumn - 3 * columnSpacing)
                                                                      / (valuesWidth - 3 * columnSpacing)))
                                               : 1
    function valueWidth(column) { return valueWidths[column] * valueScale }

    // The three value texts (or their column headers) at their column widths.
    component ValueCell: Label {
        required property int column
        Layout.preferredWidth: root.valueWidth(column)
        Layout.maximumWidth: root.valueWidth(column)
        Layout.alignment: Qt.AlignTop
        horizontalAlignment: Text.AlignHCenter
        textFormat: Text.PlainText
    }

    RowLayout {
        objectName: "columnHeaders"
        Layout.fillWidth: true
        spacing: root.columnSpacing
        Label { text: qsTr("POSITION"); Layout.fillWidth: true; elide: Text.ElideRight; font: root.columnFont; color: HubPalette.muted }
        ValueCell { column: 0; text: qsTr("CONFIDENCE"); elide: Text.ElideRight; font: root.columnFont; color: HubPalette.muted }
        ValueCell { column: 1; text: qsTr("DEPENDS ON"); elide: Text.ElideRight; font: root.columnFont; color: HubPalette.muted }
        ValueCell { column: 2; text: qsTr("CONFLICTS WITH"); elide: Text.ElideRight; font: root.columnFont; color: HubPalette.muted }
    }
    Label {
        visible: root.block.showCaption
        Layout.fillWidth: true
        wrapMode: Text.Wrap
        text: qsTr("Attributed specialist claims · verification is shown in release checks")
        font: HubFonts.font("default", 8)
        color: HubPalette.muted
    }
    Rectangle { Layout.fillWidth: true; implicitHeight: 0.5; color: HubPalette.line }
    RowLayout {
        visible: root.block.showWaiting
        Layout.fillWidth: true
        Layout.topMargin: 9
        Layout.bottomMargin: 9
        spacing: 5
        IconImage {
            Layout.alignment: Qt.AlignTop
            Layout.topMargin: 2
            name: HubIcons.name("text.bubble")
            color: HubPalette.muted
            sourceSize: Qt.size(10, 10)
        }
        Label {
            Layout.fillWidth: true
            wrapMode: Text.Wrap
            text: qsTr("Waiting for specialist positions · Domain owners keep their own conclusions")
            font: HubFonts.font("default", 10)
            color: HubPalette.muted
        }
    }

    // A row is a grid: the name in the first column of the first line, the values beside it, the
    // position text under the name (beside the values' column when there is room, else across the
    // whole row). The button lies over the name and the text, and over the whole row once wrapped.
    Repeater {
        model: root.rows
        delegate: Item {
            id: row
            required property string owner
            required property string displayName
            required property string position
            required property string confidence
            required property string dependsOn
            required property string conflictsWith
            required property string chevronSymbol
            required property int positionLineLimit
            required property string accessibleName
            objectName: "positionRow:" + owner
            Layout.fillWidth: true
            implicitHeight: grid.implicitHeight

            GridLayout {
                id: grid
                width: parent.width
                columns: 4
                columnSpacing: root.columnSpacing
                rowSpacing: 4

                RowLayout {
                    Layout.row: 0
                    Layout.column: 0
                    Layout.fillWidth: true
                    Layout.alignment: Qt.AlignTop
                    spacing: 4
                    Label {
                        Layout.fillWidth: true
                        text: row.displayName
                        textFormat: Text.PlainText
                        elide: Text.ElideRight
                        font: HubFonts.font("default", 9, HubFonts.semibold)
                        color: HubPalette.green
                    }
                    IconImage {
                        name: HubIcons.name(row.chevronSymbol)
                        color: HubPalette.green
                        sourceSize: Qt.size(9, 9)
                    }
                }
                Label {
                    objectName: "positionText"
                    Layout.row: 1
                    Layout.column: 0
                    Layout.columnSpan: root.wrapped ? 4 : 1
                    Layout.fillWidth: true
                    text: row.position
                    textFormat: Text.PlainText
                    wrapMode: Text.Wrap
                    maximumLineCount: row.positionLineLimit
                    elide: Text.ElideRight
                    font: root.rowFont
                    color: HubPalette.ink
                }
                ValueCell { Layout.row: 0; Layout.column: 1; Layout.rowSpan: root.wrapped ? 1 : 2; column: 0; wrapMode: Text.Wrap; text: row.confidence; font: root.rowFont; color: HubPalette.ink }
                ValueCell { Layout.row: 0; Layout.column: 2; Layout.rowSpan: root.wrapped ? 1 : 2; column: 1; wrapMode: Text.Wrap; text: row.dependsOn; font: root.rowFont; color: HubPalette.ink }
                ValueCell { Layout.row: 0; Layout.column: 3; Layout.rowSpan: root.wrapped ? 1 : 2; column: 2; wrapMode: Text.Wrap; text: row.conflictsWith; font: root.rowFont; color: HubPalette.ink }
            }
            AbstractButton {
                width: root.wrapped ? grid.width : grid.width - root.valuesWidth
                height: grid.height
                Accessible.name: row.accessibleName
                onClicked: root.ownerToggled(row.owner)
            }
        }
    }
}
