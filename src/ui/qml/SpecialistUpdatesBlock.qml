import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Tavrilo.Ui

// The newest specialist updates, as `specialistUpdates(...)` gives them; the updates come as a list
// model that changes by rows. "Full update" asks the root view to toggle the agent.
Rectangle {
    id: root

    property specialistUpdates updates
    property KeyedListModel rows
    signal agentToggled(string agent)

    implicitHeight: column.implicitHeight + 20
    radius: 8
    color: HubPalette.paper

    ColumnLayout {
        id: column
        anchors { left: parent.left; right: parent.right; top: parent.top; margins: 10 }
        spacing: 7
        Label {
            text: root.updates.header
            font.family: HubFonts.monospacedFamily
            font.pixelSize: 9
            font.weight: HubFonts.medium
            font.letterSpacing: 0.5
            color: HubPalette.muted
        }
        Repeater {
            model: root.rows
            delegate: ColumnLayout {
                id: update
                required property string agent
                required property string displayName
                required property bool showToggle
                required property string toggleText
                required property string accessibleName
                required property string accessibleValue
                required property string body
                required property int bodyLineLimit
                Layout.fillWidth: true
                spacing: 3
                RowLayout {
                    Layout.fillWidth: true
                    Label {
                        text: update.displayName
                        textFormat: Text.PlainText
                        font.family: HubFonts.defaultFamily
                        font.pixelSize: 9
                        font.weight: HubFonts.semibold
                        color: HubPalette.green
                    }
                    Item { Layout.fillWidth: true }
                    PlainButton {
                        visible: update.showToggle
                        text: update.toggleText
                        font.family: HubFonts.defaultFamily
                        font.pixelSize: 9
                        palette.buttonText: HubPalette.green
                        Accessible.name: update.accessibleName
                        Accessible.description: update.accessibleValue
                        onClicked: root.agentToggled(update.agent)
                    }
                }
                Label {
                    Layout.fillWidth: true
                    text: update.body
                    textFormat: Text.PlainText
                    wrapMode: Text.Wrap
                    maximumLineCount: update.bodyLineLimit
                    elide: Text.ElideRight
                    font.family: HubFonts.defaultFamily
                    font.pixelSize: 10
                    color: HubPalette.ink
                }
            }
        }
    }
}
