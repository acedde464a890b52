import QtQuick
import QtQuick.Controls
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
            Button {
                visible: root.card.decided
                flat: true
                padding: 0
                // A symbol's room; the icon comes from the window's one symbol table.
                Layout.preferredWidth: 16
                Layout.preferredHeight: 16
                text: root.card.chevronSymbol
                display: AbstractButton.IconOnly
                Accessible.name: qsTr("Show recorded approval criteria and details")
                onClicked: root.chevronPressed()
            }
            Label {
                text: root.card.title
                font.pixelSize: 10
                font.weight: Font.Medium
            }
            Item { Layout.fillWidth: true }
            Label {
                visible: root.card.decided
                text: root.card.decisionText
                textFormat: Text.PlainText
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
            font.pixelSize: 10
            ToolTip.text: root.card.summary
            ToolTip.visible: summaryHover.hovered
            HoverHandler { id: summaryHover }
        }

        Label {
            visible: root.card.showCriteriaCount
            text: root.card.criteriaCountText
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
                    font.pixelSize: 10
                    font.weight: Font.DemiBold
                }
                Repeater {
                    model: root.card.criteria
                    delegate: RowLayout {
                        required property numberedLine modelData
                        Layout.fillWidth: true
                        spacing: 6
                        Label { text: modelData.number; font.pixelSize: 10; Layout.alignment: Qt.AlignTop }
                        Label {
                            Layout.fillWidth: true
                            text: modelData.text
                            textFormat: Text.PlainText
                            wrapMode: Text.Wrap
                            font.pixelSize: 10
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
                        font.pixelSize: 10
                        color: HubPalette.muted
                    }
                }
                Label {
                    visible: root.card.recordedText.length > 0
                    text: root.card.recordedText
                    textFormat: Text.PlainText
                    font.pixelSize: 9
                    color: HubPalette.muted
                }
                Label {
                    visible: root.card.roundText.length > 0
                    text: root.card.roundText
                    textFormat: Text.PlainText
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
                font.pixelSize: 8
                color: HubPalette.muted
            }
            Item { Layout.fillWidth: true }
            Button {
                text: qsTr("Decline")
                font.pixelSize: 9
                onClicked: root.answerPressed("declined")
            }
            Button {
                text: qsTr("Approve")
                font.pixelSize: 9
                onClicked: root.answerPressed("approved")
            }
        }
    }
}
