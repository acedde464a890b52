import QtQuick
import QtQuick.Controls
import QtQuick.Controls.impl
import QtQuick.Layouts
import Tavrilo.Ui

// The release checks of the turn: the delivery badge and one cell per check. What each cell says
// and how it looks comes from `releaseChecks(projection)`; this view only lays it out.
ColumnLayout {
    id: root

    property releaseChecks checks
    // Check keys whose full reason is open; owned by the root view.
    property var openDetails: []
    signal detailsOpened(string key)
    signal detailsClosed(string key)

    spacing: 6
    Accessible.name: qsTr("Release checks; unreported results are not run after a held turn")

    RowLayout {
        Layout.fillWidth: true
        Label {
            text: qsTr("RELEASE CHECKS")
            font.family: HubFonts.monospacedFamily
            font.pixelSize: 8
            font.weight: HubFonts.medium
            font.letterSpacing: 1
            color: HubPalette.muted
        }
        Item { Layout.fillWidth: true }
        Label {
            visible: root.checks.badgeText.length > 0
            text: root.checks.badgeText
            textFormat: Text.PlainText
            font.family: HubFonts.monospacedFamily
            font.pixelSize: 8
            font.weight: HubFonts.semibold
            color: root.checks.badgeColor
        }
    }

    GridLayout {
        Layout.fillWidth: true
        columns: 3
        rowSpacing: 6
        Repeater {
            model: root.checks.cells
            delegate: Rectangle {
                id: cell
                required property releaseCheckCell modelData
                Layout.fillWidth: true
                Layout.preferredWidth: 10
                Layout.minimumWidth: 10
                Layout.alignment: Qt.AlignTop | Qt.AlignLeft
                implicitHeight: Math.max(42, content.implicitHeight) + 14
                radius: 8
                color: modelData.background
                Accessible.name: modelData.title
                ToolTip.text: modelData.reason
                ToolTip.visible: hover.hovered
                HoverHandler { id: hover }

                ColumnLayout {
                    id: content
                    anchors { left: parent.left; right: parent.right; top: parent.top; margins: 7 }
                    spacing: 3
                    // The title is the check's name and its status. In a third of a narrow card
                    // one line held only the name and the status was cut away, so the status goes
                    // to the next line when the two do not fit, and only the name is ever shortened.
                    RowLayout {
                        Layout.fillWidth: true
                        spacing: 4
                        IconImage {
                            Layout.alignment: Qt.AlignTop
                            Layout.topMargin: 1
                            name: HubIcons.name(cell.modelData.symbol)
                            color: cell.modelData.color
                            sourceSize: Qt.size(8, 8)
                        }
                        Flow {
                            id: title
                            Layout.fillWidth: true
                            spacing: titleFont.advanceWidth(" ")
                            FontMetrics {
                                id: titleFont
                                font: checkName.font
                            }
                            Label {
                                id: checkName
                                width: Math.min(implicitWidth, title.width)
                                text: cell.modelData.key + " ·"
                                textFormat: Text.PlainText
                                elide: Text.ElideRight
                                font.family: HubFonts.monospacedFamily
                                font.pixelSize: 8
                                font.weight: HubFonts.medium
                                color: cell.modelData.color
                            }
                            Label {
                                objectName: "releaseCheckStatus"
                                width: Math.min(implicitWidth, title.width)
                                text: cell.modelData.statusText
                                textFormat: Text.PlainText
                                elide: Text.ElideRight
                                font: checkName.font
                                color: cell.modelData.color
                            }
                        }
                    }
                    Label {
                        Layout.fillWidth: true
                        text: cell.modelData.reason
                        textFormat: Text.PlainText
                        wrapMode: Text.Wrap
                        maximumLineCount: 2
                        elide: Text.ElideRight
                        font.family: HubFonts.defaultFamily
                        font.pixelSize: 9
                        color: HubPalette.muted
                    }
                    PlainButton {
                        // As wide as its label, and shortened rather than reaching into the next
                        // cell when the cell is narrower.
                        Layout.fillWidth: true
                        Layout.maximumWidth: implicitWidth
                        text: qsTr("Read full reason")
                        font.family: HubFonts.defaultFamily
                        font.pixelSize: 10
                        palette.buttonText: HubPalette.green
                        Accessible.name: cell.modelData.readReasonAccessibleName
                        onClicked: root.detailsOpened(cell.modelData.key)
                    }
                }

                // A Binding, not a property binding: a popup that closes itself (Escape, a press
                // outside) writes its own visibility, which would cut a plain binding for good.
                Binding {
                    target: popup
                    property: "visible"
                    value: root.openDetails.indexOf(cell.modelData.key) >= 0
                }
                Popup {
                    id: popup
                    width: 420
                    height: 280
                    padding: 20
                    onClosed: root.detailsClosed(cell.modelData.key)
                    contentItem: ColumnLayout {
                        spacing: 12
                        Label {
                            text: cell.modelData.title
                            textFormat: Text.PlainText
                            font.family: HubFonts.defaultFamily
                            font.pixelSize: 13
                            font.weight: HubFonts.semibold
                        }
                        ScrollView {
                            Layout.fillWidth: true
                            Layout.fillHeight: true
                            TextEdit {
                                width: parent.width
                                text: cell.modelData.reason
                                textFormat: Text.PlainText
                                readOnly: true
                                selectByMouse: true
                                wrapMode: Text.Wrap
                                font.family: HubFonts.defaultFamily
                                font.pixelSize: 13
                            }
                        }
                        Button {
                            text: qsTr("Close")
                            font.family: HubFonts.defaultFamily
                            onClicked: root.detailsClosed(cell.modelData.key)
                        }
                    }
                }
            }
        }
    }
}
