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

    RowLayout {
        Layout.fillWidth: true
        Label { text: qsTr("POSITION"); Layout.fillWidth: true; elide: Text.ElideRight; font: root.columnFont; color: HubPalette.muted }
        Label { text: qsTr("CONFIDENCE"); Layout.preferredWidth: 75; horizontalAlignment: Text.AlignHCenter; font: root.columnFont; color: HubPalette.muted }
        Label { text: qsTr("DEPENDS ON"); Layout.preferredWidth: 95; horizontalAlignment: Text.AlignHCenter; font: root.columnFont; color: HubPalette.muted }
        Label { text: qsTr("CONFLICTS WITH"); Layout.preferredWidth: 95; horizontalAlignment: Text.AlignHCenter; font: root.columnFont; color: HubPalette.muted }
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

    Repeater {
        model: root.rows
        delegate: RowLayout {
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
            Layout.fillWidth: true

            AbstractButton {
                Layout.fillWidth: true
                Layout.alignment: Qt.AlignTop
                Accessible.name: row.accessibleName
                onClicked: root.ownerToggled(row.owner)
                contentItem: ColumnLayout {
                    spacing: 4
                    RowLayout {
                        Layout.fillWidth: true
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
                        Layout.fillWidth: true
                        text: row.position
                        textFormat: Text.PlainText
                        wrapMode: Text.Wrap
                        maximumLineCount: row.positionLineLimit
                        elide: Text.ElideRight
                        font: root.rowFont
                        color: HubPalette.ink
                    }
                }
            }
            Label { Layout.preferredWidth: 75; Layout.alignment: Qt.AlignTop; horizontalAlignment: Text.AlignHCenter; wrapMode: Text.Wrap; text: row.confidence; textFormat: Text.PlainText; font: root.rowFont; color: HubPalette.ink }
            Label { Layout.preferredWidth: 95; Layout.alignment: Qt.AlignTop; horizontalAlignment: Text.AlignHCenter; wrapMode: Text.Wrap; text: row.dependsOn; textFormat: Text.PlainText; font: root.rowFont; color: HubPalette.ink }
            Label { Layout.preferredWidth: 95; Layout.alignment: Qt.AlignTop; horizontalAlignment: Text.AlignHCenter; wrapMode: Text.Wrap; text: row.conflictsWith; textFormat: Text.PlainText; font: root.rowFont; color: HubPalette.ink }
        }
    }
}
