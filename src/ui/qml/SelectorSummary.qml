import QtQuick
import QtQuick.Controls
import QtQuick.Controls.impl
import QtQuick.Layouts
import Tavrilo.Ui

// The selection summary of wide landing screens: the project, its folder, the workspace and the
// access the account has there. Long values lose their middle over two lines (cut in C++, which
// Qt Quick's one-line middle elision cannot do) and keep the whole value as help.
Rectangle {
    id: panel
    property landingView view

    implicitHeight: rows.implicitHeight + 46
    radius: 18
    color: HubPalette.card
    border.width: 1
    border.color: Qt.rgba(HubPalette.line.r, HubPalette.line.g, HubPalette.line.b, 0.8)
    Accessible.role: Accessible.Grouping
    Accessible.name: qsTr("Selected project and workspace details")

    component Fact: ColumnLayout {
        id: fact
        required property string label
        required property string value
        Layout.fillWidth: true
        spacing: 5

        Text {
            text: fact.label
            textFormat: Text.PlainText
            font.family: HubFonts.monospacedFamily
            font.pixelSize: 9
            font.weight: HubFonts.medium
            font.letterSpacing: 0.8
            color: HubPalette.muted
        }
        Text {
            id: factValue
            Layout.fillWidth: true
            Layout.preferredWidth: 0
            text: TextCut.middle(fact.value, font, width, 2)
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            maximumLineCount: 2
            font: HubFonts.font("default", 12, HubFonts.medium)
            color: HubPalette.ink
            ToolTip.text: fact.value
            ToolTip.visible: factHover.hovered
            ToolTip.delay: 700
            HoverHandler { id: factHover }
        }
    }

    ColumnLayout {
        id: rows
        anchors { left: parent.left; right: parent.right; top: parent.top; margins: 23 }
        spacing: 17

        Row {
            spacing: 6
            IconImage {
                anchors.verticalCenter: parent.verticalCenter
                name: HubIcons.name("square.stack.3d.up")
                color: HubPalette.green
                sourceSize: Qt.size(11, 11)
            }
            Text {
                anchors.verticalCenter: parent.verticalCenter
                text: qsTr("SELECTED PROJECT")
                textFormat: Text.PlainText
                font.family: HubFonts.monospacedFamily
                font.pixelSize: 10
                font.weight: HubFonts.semibold
                font.letterSpacing: 1.2
                color: HubPalette.green
            }
        }
        Text {
            objectName: "summaryTitle"
            Layout.fillWidth: true
            Layout.preferredWidth: 0
            text: TextCut.middle(panel.view.summaryTitle, font, width, 2)
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            maximumLineCount: 2
            font: HubFonts.font("serif", 23, HubFonts.medium)
            color: HubPalette.ink
        }
        Rectangle {
            Layout.fillWidth: true
            implicitHeight: 1
            color: HubPalette.line
        }
        Fact {
            label: qsTr("PROJECT FOLDER")
            value: panel.view.folderFact
        }
        Fact {
            label: qsTr("WORKSPACE")
            value: panel.view.workspaceFact
        }
        Fact {
            visible: panel.view.accessFactShown
            label: qsTr("ACCESS")
            value: panel.view.accessFact
        }
        Text {
            Layout.fillWidth: true
            Layout.preferredWidth: 0
            text: qsTr("Your project files stay in the selected folder. Workspace access is checked against your signed-in account.")
            textFormat: Text.PlainText
            wrapMode: Text.Wrap
            font: HubFonts.font("default", 11)
            color: HubPalette.muted
        }
    }
}
