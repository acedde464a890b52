import QtQuick
import QtQuick.Layouts
import QtQuick.Controls
import Tavrilo.Ui

// The workforce card's content: the roster of specialists with their lanes in a viewport, the
// caption of usage awaiting attribution, then the run controls. The roster's texts, colours and
// shown parts are the presenter's; the inspected specialist is the view state's.
ColumnLayout {
    id: section
    required property var model
    required property HubViewState viewState
    readonly property var view: presenter.view

    spacing: 4

    WorkforcePresenter {
        id: presenter
        model: section.model
        inspectedAgent: section.viewState.inspectedAgent
    }

    WorkspaceViewport {
        objectName: "workforceViewport"
        Layout.fillWidth: true
        Layout.fillHeight: true
        offscreenExport: section.viewState.offscreenExport

        ColumnLayout {
            spacing: 4

            SectionHeader {
                model: section.model
                title: "Workforce"
                caption: section.view.caption
                icon: "person.3.sequence"
            }
            RowLayout {
                Layout.fillWidth: true
                Text {
                    text: section.view.roundWidthLabel
                    textFormat: Text.PlainText
                    font: HubFonts.font("default", 11)
                    color: HubPalette.muted
                }
                Item {
                    Layout.fillWidth: true
                }
                Text {
                    objectName: "roundWidthValue"
                    text: section.view.roundWidthValue
                    textFormat: Text.PlainText
                    font: HubFonts.font("monospaced", 10, HubFonts.medium)
                    color: HubPalette.green
                }
            }
            RowLayout {
                objectName: "roster"
                Layout.fillWidth: true
                spacing: 0

                Repeater {
                    model: section.view.columns
                    delegate: Item {
                        id: column
                        required property var modelData
                        readonly property var role: modelData

                        Layout.fillWidth: true
                        Layout.preferredWidth: 1
                        Layout.alignment: Qt.AlignTop
                        implicitHeight: stack.implicitHeight
                        Accessible.role: Accessible.Button
                        Accessible.name: column.role.name
                        Accessible.onPressAction: section.viewState.inspectedAgent = column.role.roleID

                        HoverHandler {
                            onHoveredChanged: if (hovered) section.viewState.inspectedAgent = column.role.roleID
                        }
                        TapHandler {
                            onTapped: section.viewState.inspectedAgent = column.role.roleID
                        }

                        Column {
                            id: stack
                            width: parent.width
                            spacing: 5

                            Rectangle {
                                anchors.horizontalCenter: parent.horizontalCenter
                                width: 27
                                height: 27
                                radius: 13.5
                                color: column.role.circleFill
                                border.color: column.role.circleStroke
                                border.width: column.role.circleStrokeWidth
                                antialiasing: true
                                Text {
                                    anchors.centerIn: parent
                                    text: column.role.initial
                                    textFormat: Text.PlainText
                                    font: HubFonts.font("default", 11, HubFonts.medium)
                                    color: HubPalette.green
                                }
                            }
                            Text {
                                width: parent.width
                                horizontalAlignment: Text.AlignHCenter
                                text: column.role.name
                                textFormat: Text.PlainText
                                font: HubFonts.font("default", 9)
                                fontSizeMode: Text.HorizontalFit
                                minimumPixelSize: 7
                                elide: Text.ElideRight
                                maximumLineCount: 1
                                color: HubPalette.ink
                            }
                            Text {
                                width: parent.width
                                horizontalAlignment: Text.AlignHCenter
                                text: column.role.stateText
                                textFormat: Text.PlainText
                                font: HubFonts.font("default", 8)
                                color: column.role.stateColor
                            }
                            Text {
                                width: parent.width
                                horizontalAlignment: Text.AlignHCenter
                                text: column.role.usageText
                                textFormat: Text.PlainText
                                wrapMode: Text.Wrap
                                maximumLineCount: 2
                                elide: Text.ElideRight
                                font: HubFonts.font("default", 9, HubFonts.medium)
                                color: HubPalette.muted
                                ToolTip.text: column.role.help
                                ToolTip.visible: usageHover.hovered && column.role.help !== ""
                                HoverHandler { id: usageHover }
                            }
                            Text {
                                width: parent.width
                                visible: column.role.costShown
                                horizontalAlignment: Text.AlignHCenter
                                text: column.role.costText
                                textFormat: Text.PlainText
                                wrapMode: Text.Wrap
                                maximumLineCount: 2
                                elide: Text.ElideRight
                                font: HubFonts.font("default", 9)
                                color: HubPalette.muted
                                ToolTip.text: column.role.help
                                ToolTip.visible: costHover.hovered && column.role.help !== ""
                                HoverHandler { id: costHover }
                            }
                        }
                    }
                }
            }
            Rectangle {
                objectName: "inspectionPanel"
                Layout.fillWidth: true
                visible: section.view.inspectionShown
                implicitHeight: inspection.implicitHeight + 16
                radius: 8
                color: HubPalette.paper
                antialiasing: true

                ColumnLayout {
                    id: inspection
                    anchors.fill: parent
                    anchors.margins: 8
                    spacing: 5

                    RowLayout {
                        Layout.fillWidth: true
                        Text {
                            Layout.fillWidth: true
                            text: section.view.inspectionTitle
                            textFormat: Text.PlainText
                            elide: Text.ElideRight
                            font: HubFonts.font("default", 10, HubFonts.medium)
                            color: HubPalette.ink
                        }
                        Button {
                            objectName: "inspectionClose"
                            text: qsTr("Close")
                            font: HubFonts.font("default", 9)
                            flat: true
                            padding: 2
                            onClicked: section.viewState.inspectedAgent = undefined
                        }
                    }
                    // Selectable, at most eight lines.
                    Item {
                        Layout.fillWidth: true
                        implicitHeight: Math.min(response.contentHeight, responseMetrics.lineSpacing * 8)
                        clip: true
                        FontMetrics {
                            id: responseMetrics
                            font: response.font
                        }
                        TextEdit {
                            id: response
                            width: parent.width
                            text: section.view.inspectionResponse
                            textFormat: TextEdit.PlainText
                            readOnly: true
                            selectByMouse: true
                            wrapMode: TextEdit.Wrap
                            font: HubFonts.font("default", 10)
                            color: HubPalette.ink
                        }
                    }
                    Text {
                        text: section.view.inspectionCost
                        textFormat: Text.PlainText
                        font: HubFonts.font("default", 9)
                        color: HubPalette.muted
                    }
                }
            }
            DispatchDrawing {
                objectName: "dispatchDrawing"
                Layout.fillWidth: true
                Layout.preferredHeight: 25
                visible: section.view.dispatchShown
                lanes: section.view.dispatchLanes
                Accessible.role: Accessible.Graphic
                Accessible.name: qsTr("Dispatch to active specialists; dashed paths indicate reconciliation next")
            }
            RowLayout {
                Layout.fillWidth: true
                visible: section.view.dispatchShown
                Text {
                    text: qsTr("Dispatch → working specialists")
                    textFormat: Text.PlainText
                    font: HubFonts.font("default", 8)
                    color: HubPalette.muted
                }
                Item {
                    Layout.fillWidth: true
                }
                Text {
                    text: qsTr("Reconcile next")
                    textFormat: Text.PlainText
                    font: HubFonts.font("default", 8)
                    color: HubPalette.muted
                }
            }
            // Live lanes in the window; in an exported frame the image the export rendered for them.
            Loader {
                objectName: "lanes"
                Layout.fillWidth: true
                Layout.preferredHeight: 48
                Accessible.role: Accessible.Graphic
                Accessible.name: section.view.lanesAccessibleName
                sourceComponent: section.view.showsRenderedActivity ? renderedLanes : liveLanes
            }
            RowLayout {
                Layout.fillWidth: true
                visible: section.view.lanesCaptionShown
                spacing: 4
                Text {
                    text: section.view.lanesCaption
                    textFormat: Text.PlainText
                    font: HubFonts.font("monospaced", 8)
                    color: HubPalette.muted
                }
                Item {
                    Layout.fillWidth: true
                }
                Text {
                    text: section.view.serviceOutput
                    textFormat: Text.PlainText
                    font: HubFonts.font("monospaced", 8)
                    color: HubPalette.muted
                }
            }
        }
    }
    Text {
        objectName: "pendingAttribution"
        Layout.fillWidth: true
        visible: section.view.pendingShown
        text: section.view.pendingText
        textFormat: Text.PlainText
        wrapMode: Text.Wrap
        maximumLineCount: 2
        elide: Text.ElideRight
        font: HubFonts.font("default", 8)
        color: HubPalette.muted
        ToolTip.text: section.view.pendingText
        ToolTip.visible: pendingHover.hovered
        HoverHandler { id: pendingHover }
    }
    RunControls {
        Layout.fillWidth: true
        model: section.model
        viewState: section.viewState
    }

    Component {
        id: liveLanes
        ActivityLanes {
            activeMask: section.view.laneMask
            velocity: section.view.laneVelocity
            reducedMotion: section.viewState.reduceMotion || section.viewState.offscreenExport
        }
    }
    Component {
        id: renderedLanes
        RenderedActivity {
            model: section.model
            radius: 9
        }
    }
}
