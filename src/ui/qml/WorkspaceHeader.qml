import QtQuick
import QtQuick.Layouts
import QtQuick.Controls
import QtQuick.Controls.impl
import Tavrilo.Ui

// The working screen's header: the brand, the project (back to the landing selector), and on the
// right the workspace menu with the plan, the persisted usage and cost, the team revision, the
// connection capsule and the account button. Every text and enabled state is the presenter's.
RowLayout {
    id: header
    required property var model
    readonly property var view: presenter.view

    spacing: 22
    Accessible.role: Accessible.Grouping
    Accessible.name: qsTr("Header")

    HeaderPresenter {
        id: presenter
        model: header.model
    }

    HubBrand {
        Layout.alignment: Qt.AlignVCenter
        Layout.leftMargin: 6
    }
    Rectangle {
        Layout.alignment: Qt.AlignVCenter
        implicitWidth: 1
        implicitHeight: 28
        color: HubPalette.line
    }
    AbstractButton {
        id: profileButton
        objectName: "profileButton"
        Layout.alignment: Qt.AlignVCenter
        Layout.maximumWidth: 320
        enabled: header.view.profileEnabled
        Accessible.name: header.view.profileText
        onClicked: header.model.actions.returnToProfiles()
        contentItem: Row {
            spacing: 6
            Text {
                anchors.verticalCenter: parent.verticalCenter
                width: Math.min(implicitWidth, profileButton.Layout.maximumWidth - 15)
                text: header.view.profileText
                textFormat: Text.PlainText
                elide: Text.ElideMiddle
                font: HubFonts.font("default", 13, HubFonts.medium)
                color: profileButton.palette.windowText
                opacity: profileButton.enabled ? 1 : 0.45
            }
            IconImage {
                anchors.verticalCenter: parent.verticalCenter
                name: HubIcons.name("chevron.down")
                color: HubPalette.ink
                sourceSize: Qt.size(9, 9)
                opacity: profileButton.enabled ? 1 : 0.45
            }
        }
    }
    Item {
        Layout.fillWidth: true
    }
    ColumnLayout {
        Layout.alignment: Qt.AlignVCenter
        spacing: 5

        AbstractButton {
            id: workspaceButton
            objectName: "workspaceMenu"
            Layout.alignment: Qt.AlignRight
            enabled: header.view.workspaceMenuEnabled
            Accessible.name: header.view.workspaceMenuText
            onClicked: workspaceMenu.open()
            contentItem: Row {
                spacing: 5
                Text {
                    anchors.verticalCenter: parent.verticalCenter
                    text: header.view.workspaceMenuText
                    textFormat: Text.PlainText
                    font: HubFonts.font("default", 12, HubFonts.semibold)
                    color: HubPalette.ink
                    opacity: workspaceButton.enabled ? 1 : 0.45
                }
                IconImage {
                    anchors.verticalCenter: parent.verticalCenter
                    name: HubIcons.name("chevron.down")
                    color: HubPalette.ink
                    sourceSize: Qt.size(8, 8)
                    opacity: workspaceButton.enabled ? 1 : 0.45
                }
            }
            Menu {
                id: workspaceMenu
                y: workspaceButton.height
                Instantiator {
                    model: header.view.workspaceTitles
                    delegate: MenuItem {
                        required property int index
                        required property string modelData
                        text: modelData
                        onTriggered: header.model.actions.selectWorkspace(header.view.workspaceIDs[index])
                    }
                    onObjectAdded: (index, object) => workspaceMenu.insertItem(index, object)
                    onObjectRemoved: (index, object) => workspaceMenu.removeItem(object)
                }
            }
        }
        Text {
            Layout.alignment: Qt.AlignRight
            visible: header.view.planShown
            text: header.view.planText
            textFormat: Text.PlainText
            font: HubFonts.font("default", 10)
            color: HubPalette.muted
        }
        RowLayout {
            Layout.alignment: Qt.AlignRight
            spacing: 10
            ToolTip.text: header.view.ledgerHelp
            ToolTip.visible: ledgerHover.hovered
            HoverHandler { id: ledgerHover }

            Text {
                Layout.maximumWidth: 260
                text: header.view.workspaceLedgerText
                textFormat: Text.PlainText
                elide: Text.ElideRight
                maximumLineCount: 1
                font: HubFonts.font("monospaced", 10)
                color: HubPalette.muted
            }
            Text {
                Layout.maximumWidth: 260
                text: header.view.sessionLedgerText
                textFormat: Text.PlainText
                elide: Text.ElideRight
                maximumLineCount: 1
                font: HubFonts.font("monospaced", 10)
                color: HubPalette.muted
            }
            AbstractButton {
                id: refreshButton
                objectName: "ledgerRefresh"
                enabled: header.view.refreshEnabled
                Accessible.name: qsTr("Refresh persisted workspace and session usage")
                onClicked: header.model.actions.refreshLedger()
                contentItem: IconImage {
                    name: HubIcons.name("arrow.clockwise")
                    color: HubPalette.muted
                    sourceSize: Qt.size(10, 10)
                    opacity: refreshButton.enabled ? 1 : 0.45
                }
            }
        }
        RowLayout {
            Layout.alignment: Qt.AlignRight
            spacing: 8
            ToolTip.text: header.view.costHelp
            ToolTip.visible: costHover.hovered
            HoverHandler { id: costHover }

            Text {
                text: header.view.costText
                textFormat: Text.PlainText
                font: HubFonts.font("default", 10, HubFonts.medium)
                color: HubPalette.muted
            }
            Text {
                Layout.maximumWidth: 240
                visible: header.view.unattributedShown
                text: header.view.unattributedText
                textFormat: Text.PlainText
                elide: Text.ElideRight
                maximumLineCount: 1
                font: HubFonts.font("default", 10, HubFonts.medium)
                color: HubPalette.muted
                ToolTip.text: header.view.unattributedText
                ToolTip.visible: unattributedHover.hovered
                HoverHandler { id: unattributedHover }
            }
        }
        Text {
            Layout.alignment: Qt.AlignRight
            visible: header.view.revisionShown
            text: header.view.revisionText
            textFormat: Text.PlainText
            font: HubFonts.font("monospaced", 9)
            color: HubPalette.muted
            ToolTip.text: header.view.revisionHelp
            ToolTip.visible: revisionHover.hovered
            HoverHandler { id: revisionHover }
        }
    }
    ConnectionLabel {
        Layout.alignment: Qt.AlignVCenter
        text: header.view.connectionText
        dotColor: header.view.connectionDotColor
    }
    Button {
        objectName: "accountButton"
        Layout.alignment: Qt.AlignVCenter
        Layout.rightMargin: 6
        text: header.view.accountText
        enabled: header.view.accountEnabled
        onClicked: header.model.actions.signIn()
    }
}
