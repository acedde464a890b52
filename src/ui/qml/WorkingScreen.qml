import QtQuick
import QtQuick.Layouts
import QtQuick.Controls
import QtQuick.Controls.impl
import Tavrilo.Ui

// The working screen: shown once the user has entered a project. The region area places the four
// sections where the shared layout puts them, scaled to the area (the same geometry the headless
// layout check proves); the journal strip runs along the bottom. It carries its own insets (18
// points left and right, 8 at the top); the root view adds none.
Item {
    id: working
    required property var model
    required property HubViewState viewState
    readonly property var view: presenter.view

    WorkingScreenPresenter {
        id: presenter
        model: working.model
        area: Qt.size(area.width, area.height)
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.leftMargin: 18
        anchors.rightMargin: 18
        anchors.topMargin: 8
        spacing: 0

        Item {
            id: area
            objectName: "regionArea"
            Layout.fillWidth: true
            Layout.fillHeight: true

            // A section's frame: placed by its region, its content centred in it and cut at its edge.
            // A section the layout does not place is absent.
            component Region: Item {
                id: region
                required property string regionID
                readonly property var frame: working.view.frames[regionID]
                objectName: regionID + "Region"
                visible: working.view.layoutAvailable && frame !== undefined
                x: frame ? frame.x : 0
                y: frame ? frame.y : 0
                width: frame ? frame.width : 0
                height: frame ? frame.height : 0
                z: working.view.stacking[regionID] ?? 0
                clip: true
            }

            Region {
                regionID: "header"
                WorkspaceHeader {
                    anchors.verticalCenter: parent.verticalCenter
                    width: parent.width
                    model: working.model
                }
            }
            Region {
                regionID: "workforce"
                SectionCard {
                    anchors.fill: parent
                    label: "Workforce"
                    inset: 16
                    spacing: 4
                    WorkforceSection {
                        Layout.fillWidth: true
                        Layout.fillHeight: true
                        model: working.model
                        viewState: working.viewState
                    }
                }
            }
            Region {
                regionID: "documents"
                SectionCard {
                    anchors.fill: parent
                    label: "Documents"
                    inset: 21
                    spacing: 16
                    DocumentsSection {
                        Layout.fillWidth: true
                        Layout.fillHeight: true
                        model: working.model
                        viewState: working.viewState
                    }
                }
            }
            Region {
                regionID: "events"
                SectionCard {
                    anchors.fill: parent
                    label: "Events"
                    inset: 21
                    spacing: 16
                    EventsSection {
                        Layout.fillWidth: true
                        Layout.fillHeight: true
                        model: working.model
                        viewState: working.viewState
                    }
                }
            }

            // Without a layout: what went wrong instead of the sections.
            Column {
                objectName: "layoutUnavailable"
                anchors.centerIn: parent
                width: Math.min(420, parent.width)
                spacing: 8
                visible: !working.view.layoutAvailable

                IconImage {
                    anchors.horizontalCenter: parent.horizontalCenter
                    name: HubIcons.name("rectangle.3.group")
                    color: HubPalette.muted
                    sourceSize: Qt.size(36, 36)
                }
                Text {
                    width: parent.width
                    horizontalAlignment: Text.AlignHCenter
                    text: qsTr("Layout unavailable")
                    textFormat: Text.PlainText
                    font: HubFonts.font("default", 17, HubFonts.semibold)
                    color: HubPalette.ink
                }
                Text {
                    objectName: "layoutUnavailableMessage"
                    width: parent.width
                    horizontalAlignment: Text.AlignHCenter
                    text: working.view.placeholderText
                    textFormat: Text.PlainText
                    wrapMode: Text.Wrap
                    font: HubFonts.body
                    color: HubPalette.muted
                }
            }
        }

        // The journal strip.
        RowLayout {
            objectName: "journalStrip"
            Layout.fillWidth: true
            Layout.leftMargin: 18
            Layout.rightMargin: 18
            Layout.topMargin: 11
            Layout.bottomMargin: 11
            spacing: 7

            Rectangle {
                Layout.alignment: Qt.AlignVCenter
                implicitWidth: 4
                implicitHeight: 4
                radius: 2
                color: HubPalette.green
            }
            Text {
                text: qsTr("LOCAL JOURNAL")
                textFormat: Text.PlainText
                font.family: HubFonts.monospacedFamily
                font.pixelSize: 9
                font.letterSpacing: 1
                color: HubPalette.muted
            }
            Text {
                objectName: "journalScope"
                text: working.view.journalScope
                textFormat: Text.PlainText
                font: HubFonts.font("monospaced", 9)
                color: HubPalette.muted
            }
            Item {
                Layout.fillWidth: true
            }
            Text {
                objectName: "journalSignIn"
                text: working.view.journalSignIn
                textFormat: Text.PlainText
                font: HubFonts.font("monospaced", 9)
                color: HubPalette.muted
            }
        }
    }
}
