import QtQuick
import QtQuick.Layouts
import QtQuick.Controls
import Tavrilo.Ui

// The runtime input requests still pending, with their fields and the two answers. The gates
// section places it inside its paper card frame. The typed values live in the view state, keyed by
// request and field, and outlive the request's rows; what an answer sends is decided in C++.
ColumnLayout {
    id: card
    required property var model
    required property HubViewState viewState

    spacing: 8

    RowLayout {
        Layout.fillWidth: true
        Text {
            text: qsTr("MCP input")
            textFormat: Text.PlainText
            font: HubFonts.font("default", 10, HubFonts.medium)
            color: HubPalette.ink
        }
        Item {
            Layout.fillWidth: true
        }
        Text {
            text: "2026-07-28 · form / url"
            textFormat: Text.PlainText
            font: HubFonts.font("monospaced", 8)
            color: HubPalette.muted
        }
    }

    Text {
        objectName: "noInputRequest"
        visible: requests.count === 0
        text: qsTr("No input request received")
        textFormat: Text.PlainText
        font: HubFonts.font("default", 9)
        color: HubPalette.muted
    }

    Column {
        id: rows
        Layout.fillWidth: true
        spacing: 8

        Repeater {
            id: requests
            model: card.model.inputRequests
            // Each row is a plain item around its own layout, in a positioner rather than the card's
            // layout: a layout can still hold a removed row while a resize re-enters it during its
            // own rearrangement, and an answered request's row leaves exactly then.
            delegate: Item {
                id: request
                required property string requestID
                required property string mode
                required property string message
                required property var fields
                required property var url
                objectName: "inputRequest:" + requestID
                width: rows.width
                implicitWidth: rowLayout.implicitWidth
                implicitHeight: rowLayout.implicitHeight

                function answer(action) {
                    card.model.actions.replyElicitation(
                        request.requestID, action,
                        WorkingMaterial.replyContent(request.requestID, request.fields, card.viewState.elicitationValues,
                                                     action))
                }

                ColumnLayout {
                    id: rowLayout
                    width: request.width
                    spacing: 8

                    Text {
                        Layout.fillWidth: true
                        text: request.message
                        textFormat: Text.PlainText
                        font: HubFonts.font("default", 10)
                        color: HubPalette.ink
                        wrapMode: Text.Wrap
                        maximumLineCount: 2
                        elide: Text.ElideRight
                    }
                    Repeater {
                        model: WorkingMaterial.requestShowsFields(request.mode) ? request.fields : []
                        delegate: TextField {
                            required property string modelData
                            readonly property string key: WorkingMaterial.valueKey(request.requestID, modelData)
                            objectName: "field:" + key
                            Layout.fillWidth: true
                            placeholderText: modelData
                            font: HubFonts.font("default", 10)
                            text: card.viewState.elicitationValues[key] ?? ""
                            onTextEdited: {
                                const values = card.viewState.elicitationValues
                                values[key] = text
                                card.viewState.elicitationValues = values
                            }
                        }
                    }
                    Loader {
                        Layout.fillWidth: true
                        Layout.preferredHeight: 140
                        active: WorkingMaterial.requestShowsBrowser(request.mode, request.url)
                        visible: active
                        sourceComponent: NativeElicitationBrowser {
                            url: request.url
                        }
                    }
                    // The caption and the two buttons share a row; on a card too narrow for both the
                    // caption takes a line of its own above the buttons, which stay whole and in reach.
                    GridLayout {
                        id: footer
                        Layout.fillWidth: true
                        columns: width < caption.implicitWidth + buttons.implicitWidth + columnSpacing ? 1 : 2
                        Text {
                            id: caption
                            Layout.fillWidth: true
                            text: qsTr("Original request state retained")
                            textFormat: Text.PlainText
                            wrapMode: Text.Wrap
                            font: HubFonts.font("default", 8)
                            color: HubPalette.muted
                        }
                        RowLayout {
                            id: buttons
                            Layout.alignment: Qt.AlignRight
                            Button {
                                objectName: "decline"
                                text: qsTr("Decline")
                                font: HubFonts.font("default", 9)
                                enabled: card.model.controlsConnected
                                onClicked: request.answer("decline")
                            }
                            Button {
                                objectName: "respond"
                                text: qsTr("Respond")
                                font: HubFonts.font("default", 9)
                                enabled: card.model.controlsConnected
                                onClicked: request.answer("accept")
                            }
                        }
                    }
                }
            }
        }
    }
}
