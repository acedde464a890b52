import QtQuick
import QtQuick.Layouts
import QtQuick.Controls
import QtQuick.Controls.impl
import Tavrilo.Ui

// Where a turn is started and steered: the task line with the run button, the human operator's
// Interrupt (also Ctrl+.), and the runtime row with its one-word status. Texts and enabled states
// are the presenter's; every button starts a model operation and returns.
ColumnLayout {
    id: controls
    required property var model
    required property HubViewState viewState
    readonly property var view: presenter.view

    spacing: 4

    RunControlsPresenter {
        id: presenter
        model: controls.model
    }
    RunControlActions {
        id: actions
        model: controls.model
    }
    Shortcut {
        sequence: "Ctrl+."
        enabled: controls.view.interruptEnabled
        onActivated: controls.model.actions.interrupt()
    }

    Rectangle {
        Layout.fillWidth: true
        implicitHeight: taskRow.implicitHeight + 22
        radius: 10
        color: HubPalette.paper
        antialiasing: true

        RowLayout {
            id: taskRow
            anchors.fill: parent
            anchors.margins: 11
            spacing: 9

            IconImage {
                Layout.alignment: Qt.AlignVCenter
                name: HubIcons.name("text.bubble")
                color: HubPalette.muted
                sourceSize: Qt.size(13, 13)
            }
            AbstractButton {
                objectName: "taskButton"
                Layout.fillWidth: true
                Layout.alignment: Qt.AlignVCenter
                Accessible.name: qsTr("Edit workforce task")
                onClicked: controls.viewState.openComposer(false)
                contentItem: Text {
                    text: controls.view.taskText
                    textFormat: Text.PlainText
                    elide: Text.ElideRight
                    maximumLineCount: 1
                    font: HubFonts.font("default", 11)
                    color: controls.view.taskColor
                }
            }
            Button {
                objectName: "runButton"
                Layout.alignment: Qt.AlignVCenter
                highlighted: true
                enabled: controls.view.runEnabled
                icon.name: HubIcons.name("arrow.up")
                // The button's text colour, so the arrow shows on its light face and mutes with it.
                icon.color: palette.buttonText
                icon.width: 11
                icon.height: 11
                display: AbstractButton.IconOnly
                font: HubFonts.font("default", 11, HubFonts.semibold)
                Accessible.name: qsTr("Run workforce")
                onClicked: controls.model.actions.execute()
            }
        }
    }
    RowLayout {
        Layout.fillWidth: true
        Layout.topMargin: 2

        IconImage {
            Layout.alignment: Qt.AlignVCenter
            name: HubIcons.name("exclamationmark.circle.fill")
            color: HubPalette.green
            sourceSize: Qt.size(13, 13)
        }
        Text {
            text: qsTr("Human operator")
            textFormat: Text.PlainText
            font: HubFonts.font("default", 12, HubFonts.semibold)
            color: HubPalette.ink
        }
        Text {
            text: qsTr("LEVEL 6")
            textFormat: Text.PlainText
            font: HubFonts.font("monospaced", 9, HubFonts.medium)
            color: HubPalette.muted
        }
        Item {
            Layout.fillWidth: true
        }
        Button {
            objectName: "interruptButton"
            highlighted: true
            // The shortcut ends the label: room after it as before the word.
            horizontalPadding: 12
            text: controls.view.interruptText
            enabled: controls.view.interruptEnabled
            font: HubFonts.font("default", 11, HubFonts.semibold)
            onClicked: controls.model.actions.interrupt()
        }
    }
    RowLayout {
        objectName: "runtimeRow"
        Layout.fillWidth: true
        spacing: 7
        ToolTip.text: qsTr("Run controls use the authenticated platform API for the active session.")
        ToolTip.visible: runtimeHover.hovered && !stopHover.hovered
        HoverHandler { id: runtimeHover }

        Button {
            objectName: "pauseButton"
            text: controls.view.pauseText
            enabled: controls.view.pauseEnabled
            font: HubFonts.font("default", 11, HubFonts.medium)
            onClicked: actions.togglePause()
        }
        ComboBox {
            objectName: "toolPicker"
            visible: controls.view.pickerShown
            Layout.maximumWidth: 180
            Accessible.name: qsTr("Tool")
            model: controls.view.pickerTitles
            currentIndex: controls.view.pickerIndex
            font: HubFonts.font("default", 11, HubFonts.medium)
            onActivated: index => controls.model.selectedSkipID = controls.view.pickerTags[index]
        }
        Button {
            objectName: "skipButton"
            text: qsTr("Skip step")
            enabled: controls.view.skipEnabled
            font: HubFonts.font("default", 11, HubFonts.medium)
            onClicked: controls.model.actions.skipActiveStep()
        }
        // Its help says why it is disabled too, so the hover is the enabled wrapper's.
        Item {
            implicitWidth: stopButton.implicitWidth
            implicitHeight: stopButton.implicitHeight
            ToolTip.text: controls.view.stopHelp
            ToolTip.visible: stopHover.hovered
            HoverHandler { id: stopHover }
            Button {
                id: stopButton
                objectName: "stopButton"
                anchors.fill: parent
                text: qsTr("Stop")
                enabled: controls.view.stopEnabled
                font: HubFonts.font("default", 11, HubFonts.medium)
                // Red while it can act; disabled, the root view's muted text.
                palette.active.buttonText: HubPalette.error
                palette.inactive.buttonText: HubPalette.error
                onClicked: actions.stop()
            }
        }
        Button {
            objectName: "interjectButton"
            text: qsTr("Interject")
            enabled: controls.view.interjectEnabled
            font: HubFonts.font("default", 11, HubFonts.medium)
            onClicked: controls.viewState.openComposer(true)
        }
        Item {
            Layout.fillWidth: true
        }
        Text {
            objectName: "statusWord"
            text: controls.view.statusWord
            textFormat: Text.PlainText
            font: HubFonts.font("default", 8)
            color: HubPalette.muted
        }
    }
}
