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
    // card has, and the position text takes the whole width below them. The columns are placed by
    // hand: Qt Quick Layouts kept a column at the width it had before the block was first sized.
    readonly property var valueWidths: [75, 95, 95]
    readonly property real columnSpacing: 5
    readonly property real readableText: 140
    readonly property real nameColumn: 70
    readonly property real fullValues: valueWidths[0] + valueWidths[1] + valueWidths[2]
    readonly property bool wrapped: width < fullValues + 3 * columnSpacing + readableText
    readonly property real valueScale: wrapped
        ? Math.max(0, Math.min(1, (width - nameColumn - 3 * columnSpacing) / fullValues)) : 1
    // Where the value columns begin, and each one's left edge and width.
    readonly property real firstColumn: width - fullValues * valueScale - 3 * columnSpacing
    function valueX(column) {
        let x = firstColumn + columnSpacing
        for (let i = 0; i < column; ++i)
            x += valueWidths[i] * valueScale + columnSpacing
        return x
    }
    function valueWidth(column) { return valueWidths[column] * valueScale }

    // A value text (or its column header) in its column.
    component ValueCell: Label {
        required property int column
        x: root.valueX(column)
        width: root.valueWidth(column)
        horizontalAlignment: Text.AlignHCenter
        textFormat: Text.PlainText
    }

    Item {
        objectName: "columnHeaders"
        Layout.fillWidth: true
        implicitHeight: positionHeader.implicitHeight
        Label {
            id: positionHeader
            width: Math.max(0, root.firstColumn)
            text: qsTr("POSITION")
            elide: Text.ElideRight
            font: root.columnFont
            color: HubPalette.muted
        }
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

    // A row: the name on the first line, the values beside it, the position text under the name
    // (beside the values when there is room, else across the whole row). The button lies over the
    // name and the text, and over the whole row once wrapped.
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

            readonly property real valuesHeight: Math.max(confidenceText.implicitHeight, dependsText.implicitHeight,
                                                          conflictsText.implicitHeight)
            readonly property real textTop: (root.wrapped ? Math.max(name.height, valuesHeight) : name.height) + 4
            implicitHeight: root.wrapped ? textTop + positionText.implicitHeight
                                         : Math.max(textTop + positionText.implicitHeight, valuesHeight)

            RowLayout {
                id: name
                width: Math.max(0, root.firstColumn)
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
                id: positionText
                objectName: "positionText"
                y: row.textTop
                width: root.wrapped ? row.width : Math.max(0, root.firstColumn)
                text: row.position
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                maximumLineCount: row.positionLineLimit
                elide: Text.ElideRight
                font: root.rowFont
                color: HubPalette.ink
            }
            ValueCell { id: confidenceText; column: 0; wrapMode: Text.Wrap; text: row.confidence; font: root.rowFont; color: HubPalette.ink }
            ValueCell { id: dependsText; column: 1; wrapMode: Text.Wrap; text: row.dependsOn; font: root.rowFont; color: HubPalette.ink }
            ValueCell { id: conflictsText; column: 2; wrapMode: Text.Wrap; text: row.conflictsWith; font: root.rowFont; color: HubPalette.ink }
            AbstractButton {
                width: root.wrapped ? row.width : Math.max(0, root.firstColumn)
                height: row.height
                Accessible.name: row.accessibleName
                onClicked: root.ownerToggled(row.owner)
            }
        }
    }
}
