import QtQuick
import QtQuick.Controls
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
            Label {
                Layout.fillWidth: true
                text: root.status.guidance
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                font.pixelSize: 10
                font.weight: Font.Medium
                color: HubPalette.error
            }
            Label {
                visible: root.status.showReviewReason
                text: qsTr("INDEPENDENT REVIEW REASON")
                font.pixelSize: 8
                font.weight: Font.DemiBold
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
                font.pixelSize: 10
                color: HubPalette.error
                // A TextEdit has no line limit of its own: the folded reason is clipped to its lines.
                Layout.maximumHeight: root.status.reviewReasonLineLimit * fontMetrics.lineSpacing
                clip: true
                FontMetrics { id: fontMetrics; font.pixelSize: 10 }
            }
            Button {
                visible: root.status.showReviewReason
                flat: true
                padding: 0
                text: root.status.reviewToggleText
                font.pixelSize: 9
                font.weight: Font.DemiBold
                palette.buttonText: HubPalette.error
                onClicked: root.reviewReasonToggled()
            }
        }
    }

    Label {
        visible: root.status.showCompletion
        Layout.fillWidth: true
        text: root.status.completionText
        font.pixelSize: 11
        font.weight: Font.DemiBold
        color: HubPalette.green
    }
}
