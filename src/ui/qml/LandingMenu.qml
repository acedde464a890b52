import QtQuick
import QtQml.Models
import QtQuick.Controls
import QtQuick.Controls.impl
import Tavrilo.Ui

// A menu button of the landing selector: its label, then one item per title. Choosing an item
// reports that item's key (a workspace's tenant id, a recent project's directory), never its
// position, so a list that changed under an open menu cannot pick its neighbour. `tips` holds one
// help text per item, or nothing.
Button {
    id: button
    property var titles: []
    property var keys: []
    property var tips: []
    property string help
    signal chosen(string key)

    font: HubFonts.font("default", 11)
    ToolTip.text: help
    ToolTip.visible: hovered && help.length > 0 && !menu.visible
    ToolTip.delay: 700
    onClicked: menu.visible ? menu.close() : menu.popup(button, 0, button.height)

    contentItem: Row {
        spacing: 5
        Text {
            anchors.verticalCenter: parent.verticalCenter
            text: button.text
            textFormat: Text.PlainText
            font: button.font
            color: button.palette.buttonText
        }
        IconImage {
            anchors.verticalCenter: parent.verticalCenter
            name: HubIcons.name("chevron.down")
            color: HubPalette.muted
            sourceSize: Qt.size(9, 9)
        }
    }

    Menu {
        id: menu
        objectName: "menu"

        Instantiator {
            model: button.titles
            delegate: MenuItem {
                id: item
                required property int index
                required property string modelData
                readonly property string key: button.keys[item.index] ?? ""
                readonly property string tip: button.tips[item.index] ?? ""
                text: item.modelData
                font: button.font
                contentItem: Text {
                    text: item.text
                    textFormat: Text.PlainText
                    font: item.font
                    color: item.palette.windowText
                    elide: Text.ElideMiddle
                }
                ToolTip.text: item.tip
                ToolTip.visible: item.hovered && item.tip.length > 0
                ToolTip.delay: 700
                onTriggered: button.chosen(item.key)
            }
            onObjectAdded: (index, object) => menu.insertItem(index, object)
            onObjectRemoved: (index, object) => menu.removeItem(object)
        }
    }
}
