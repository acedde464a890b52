import QtQuick
import QtQuick.Controls
import QtQuick.Controls.impl
import QtQuick.Layouts
import Tavrilo.Ui

// The turn error block (with the independent reviewer's reason) and the turn completion line, as
// `turnStatus(projection, expandedReviewReason)` decides them.
ColumnLayout {
    id: root

    property turnStatus status
    signal reviewReasonToggled()

    spacing: 16

    Rectangle {
        visible: root.status.showError
        Layout.fillWidth: true
        implicitHeight: errorColumn.implicitHeight + 20
        radius: 8
        color: Qt.rgba(HubPalette.error.r, HubPalette.error.g, HubPalette.error.b, 0.07)
        Accessible.name: root.status.errorAccessibleName

        ColumnLayout {
            id: errorColumn
            anchors { left: parent.left; right: parent.right; top: parent.top; margins: 10 }
            spacing: 7
            RowLayout {
                Layout.fillWidth: true
                spacing: 5
                IconImage {
                    Layout.alignment: Qt.AlignTop
                    Layout.topMargin: 1
                    name: HubIcons.name("exclamationmark.triangle")
                    color: HubPalette.error
                    sourceSize: Qt.size(10, 10)
                }
                Label {
                    Layout.fillWidth: true
                    text: root.status.guidance
                    textFormat: Text.PlainText
                    wrapMode: Text.Wrap
                    font.family: HubFonts.defaultFamily
                    font.pixelSize: 10
                    font.weight: HubFonts.medium
                    color: HubPalette.error
                }
            }
            Label {
                visible: root.status.showReviewReason
                text: qsTr("INDEPENDENT REVIEW REASON")
                font.family: HubFonts.monospacedFamily
                font.pixelSize: 8
                font.weight: HubFonts.semibold
                font.letterSpacing: 0.7
                color: HubPalette.error
            }
            TextEdit {
                visible: root.status.showReviewReason
                Layout.fillWidth: true
                text: root.status.reviewReason
                textFormat: Text.PlainText
                readOnly: true
                selectByMouse: true
                wrapMode: Text.Wrap
                font.family: HubFonts.defaultFamily
                font.pixelSize: 10
                color: HubPalette.error
                // A TextEdit has no line limit of its own: the folded reason is clipped to its lines.
                Layout.maximumHeight: root.status.reviewReasonLineLimit * fontMetrics.lineSpacing
                clip: true
                FontMetrics { id: fontMetrics; font.family: HubFonts.defaultFamily; font.pixelSize: 10 }
            }
            PlainButton {
                visible: root.status.showReviewReason
                text: root.status.reviewToggleText
                font.family: HubFonts.defaultFamily
                font.pixelSize: 9
                font.weight: HubFonts.semibold
                palette.buttonText: HubPalette.error
                onClicked: root.reviewReasonToggled()
            }
        }
    }

    RowLayout {
        visible: root.status.showCompletion
        Layout.fillWidth: true
        spacing: 5
        IconImage {
            name: HubIcons.name("checkmark.circle.fill")
            color: HubPalette.green
            sourceSize: Qt.size(11, 11)
        }
        Label {
            Layout.fillWidth: true
            text: root.status.completionText
            wrapMode: Text.Wrap
            font.family: HubFonts.defaultFamily
            font.pixelSize: 11
            font.weight: HubFonts.semibold
            color: HubPalette.green
        }
    }
}
