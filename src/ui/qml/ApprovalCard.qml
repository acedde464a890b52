import QtQuick
import QtQuick.Controls
import QtQuick.Controls.impl
import QtQuick.Layouts
import Tavrilo.Ui

// One approval gate. `approvalCard(...)` decides every text and state; the card lays them out and
// forwards the presses: the root view toggles its expansion set, the model answers the gate.
Rectangle {
    id: root

    property approvalCard card
    signal chevronPressed()
    signal answerPressed(string decision)

    implicitHeight: column.implicitHeight + 24
    radius: 9
    color: HubPalette.paper

    ColumnLayout {
        id: column
        anchors { left: parent.left; right: parent.right; top: parent.top; margins: 12 }
        spacing: 8

        RowLayout {
            Layout.fillWidth: true
            AbstractButton {
                objectName: "approvalChevron"
                visible: root.card.decided
                Accessible.role: Accessible.Button
                Accessible.name: qsTr("Show recorded approval criteria and details")
                contentItem: IconImage {
                    name: HubIcons.name(root.card.chevronSymbol)
                    color: HubPalette.ink
                    sourceSize: Qt.size(10, 10)
                }
                onClicked: root.chevronPressed()
            }
            IconImage {
                name: HubIcons.name("checkmark.shield")
                color: HubPalette.ink
                sourceSize: Qt.size(10, 10)
            }
            Label {
                text: root.card.title
                font.family: HubFonts.defaultFamily
                font.pixelSize: 10
                font.weight: HubFonts.medium
                color: HubPalette.ink
            }
            Item { Layout.fillWidth: true }
            Label {
                visible: root.card.decided
                text: root.card.decisionText
                textFormat: Text.PlainText
                font.family: HubFonts.defaultFamily
                font.pixelSize: 10
                color: HubPalette.muted
            }
        }

        Label {
            Layout.fillWidth: true
            text: root.card.summary
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            maximumLineCount: root.card.summaryLineLimit
            elide: Text.ElideRight
            font.family: HubFonts.defaultFamily
            font.pixelSize: 10
            color: HubPalette.ink
            ToolTip.text: root.card.summary
            ToolTip.visible: summaryHover.hovered
            HoverHandler { id: summaryHover }
        }

        Label {
            visible: root.card.showCriteriaCount
            text: root.card.criteriaCountText
            font.family: HubFonts.defaultFamily
            font.pixelSize: 9
            color: HubPalette.muted
        }

        Flickable {
            id: details
            visible: root.card.showDetails
            Layout.fillWidth: true
            Layout.preferredHeight: root.card.detailsHeightFixed ? 160 : Math.min(160, recorded.implicitHeight)
            contentHeight: recorded.implicitHeight
            clip: true
            interactive: !root.card.detailsHeightFixed
            ScrollBar.vertical: ScrollBar { policy: root.card.detailsHeightFixed ? ScrollBar.AlwaysOff : ScrollBar.AlwaysOn }

            ColumnLayout {
                id: recorded
                width: details.width
                spacing: 8
                Label {
                    visible: root.card.criteria.length > 0
                    text: qsTr("Acceptance criteria")
                    font.family: HubFonts.defaultFamily
                    font.pixelSize: 10
                    font.weight: HubFonts.semibold
                    color: HubPalette.ink
                }
                Repeater {
                    model: root.card.criteria
                    delegate: RowLayout {
                        required property numberedLine modelData
                        Layout.fillWidth: true
                        spacing: 6
                        Label { text: modelData.number; font.family: HubFonts.defaultFamily; font.pixelSize: 10; color: HubPalette.ink; Layout.alignment: Qt.AlignTop }
                        Label {
                            Layout.fillWidth: true
                            text: modelData.text
                            textFormat: Text.PlainText
                            wrapMode: Text.Wrap
                            font.family: HubFonts.defaultFamily
                            font.pixelSize: 10
                            color: HubPalette.ink
                        }
                    }
                }
                Repeater {
                    model: root.card.detailLines
                    delegate: Label {
                        required property string modelData
                        Layout.fillWidth: true
                        text: modelData
                        textFormat: Text.PlainText
                        wrapMode: Text.Wrap
                        font.family: HubFonts.defaultFamily
                        font.pixelSize: 10
                        color: HubPalette.muted
                    }
                }
                Label {
                    visible: root.card.recordedText.length > 0
                    text: root.card.recordedText
                    textFormat: Text.PlainText
                    font.family: HubFonts.defaultFamily
                    font.pixelSize: 9
                    color: HubPalette.muted
                }
                Label {
                    visible: root.card.roundText.length > 0
                    text: root.card.roundText
                    textFormat: Text.PlainText
                    font.family: HubFonts.monospacedFamily
                    font.pixelSize: 9
                    color: HubPalette.muted
                }
                TextEdit {
                    visible: root.card.turnRevisionText.length > 0
                    Layout.fillWidth: true
                    text: root.card.turnRevisionText
                    textFormat: Text.PlainText
                    readOnly: true
                    selectByMouse: true
                    wrapMode: Text.WrapAnywhere
                    font.family: HubFonts.monospacedFamily
                    font.pixelSize: 8
                    color: HubPalette.muted
                }
            }
        }

        RowLayout {
            visible: root.card.showProof
            enabled: root.card.answerable
            Layout.fillWidth: true
            Label {
                text: root.card.proofText
                font.family: HubFonts.defaultFamily
                font.pixelSize: 8
                color: HubPalette.muted
            }
            Item { Layout.fillWidth: true }
            Button {
                objectName: "declineButton"
                text: qsTr("Decline")
                font.family: HubFonts.defaultFamily
                font.pixelSize: 9
                onClicked: root.answerPressed("declined")
            }
            Button {
                objectName: "approveButton"
                text: qsTr("Approve")
                font.family: HubFonts.defaultFamily
                font.pixelSize: 9
                onClicked: root.answerPressed("approved")
            }
        }
    }
}
