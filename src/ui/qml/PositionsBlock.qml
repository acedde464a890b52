import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tavrilo.Ui

// The positions table, as `positionsBlock(...)` gives it. Pressing a row asks the root view to
// toggle its owner.
ColumnLayout {
    id: root

    property positionsBlock block
    signal ownerToggled(string owner)

    spacing: 9

    RowLayout {
        Layout.fillWidth: true
        Label { text: qsTr("POSITION"); Layout.fillWidth: true; font.pixelSize: 8; font.weight: Font.Medium; color: HubPalette.muted }
        Label { text: qsTr("CONFIDENCE"); Layout.preferredWidth: 75; horizontalAlignment: Text.AlignHCenter; font.pixelSize: 8; font.weight: Font.Medium; color: HubPalette.muted }
        Label { text: qsTr("DEPENDS ON"); Layout.preferredWidth: 95; horizontalAlignment: Text.AlignHCenter; font.pixelSize: 8; font.weight: Font.Medium; color: HubPalette.muted }
        Label { text: qsTr("CONFLICTS WITH"); Layout.preferredWidth: 95; horizontalAlignment: Text.AlignHCenter; font.pixelSize: 8; font.weight: Font.Medium; color: HubPalette.muted }
    }
    Label {
        visible: root.block.showCaption
        text: qsTr("Attributed specialist claims · verification is shown in release checks")
        font.pixelSize: 8
        color: HubPalette.muted
    }
    Rectangle { Layout.fillWidth: true; implicitHeight: 0.5; color: HubPalette.line }
    Label {
        visible: root.block.showWaiting
        topPadding: 9
        bottomPadding: 9
        text: qsTr("Waiting for specialist positions · Domain owners keep their own conclusions")
        font.pixelSize: 10
        color: HubPalette.muted
    }

    Repeater {
        model: root.block.rows
        delegate: RowLayout {
            id: row
            required property positionRow modelData
            Layout.fillWidth: true

            AbstractButton {
                Layout.fillWidth: true
                Layout.alignment: Qt.AlignTop
                Accessible.name: row.modelData.accessibleName
                onClicked: root.ownerToggled(row.modelData.owner)
                contentItem: ColumnLayout {
                    spacing: 4
                    Label {
                        Layout.fillWidth: true
                        text: row.modelData.displayName
                        textFormat: Text.PlainText
                        elide: Text.ElideRight
                        font.pixelSize: 9
                        font.weight: Font.DemiBold
                        color: HubPalette.green
                    }
                    Label {
                        Layout.fillWidth: true
                        text: row.modelData.position
                        textFormat: Text.PlainText
                        wrapMode: Text.Wrap
                        maximumLineCount: row.modelData.positionLineLimit
                        elide: Text.ElideRight
                        font.pixelSize: 9
                    }
                }
            }
            Label { Layout.preferredWidth: 75; Layout.alignment: Qt.AlignTop; horizontalAlignment: Text.AlignHCenter; wrapMode: Text.Wrap; text: row.modelData.confidence; textFormat: Text.PlainText; font.pixelSize: 9 }
            Label { Layout.preferredWidth: 95; Layout.alignment: Qt.AlignTop; horizontalAlignment: Text.AlignHCenter; wrapMode: Text.Wrap; text: row.modelData.dependsOn; textFormat: Text.PlainText; font.pixelSize: 9 }
            Label { Layout.preferredWidth: 95; Layout.alignment: Qt.AlignTop; horizontalAlignment: Text.AlignHCenter; wrapMode: Text.Wrap; text: row.modelData.conflictsWith; textFormat: Text.PlainText; font.pixelSize: 9 }
        }
    }
}
