import QtQuick
import QtQuick.Layouts
import QtQuick.Controls
import Tavrilo.Ui

// The project's working-tree changes: the changed files, and for the selected one the declarations
// its syntax tree shows changed and its unified diff. Every read replaces all of it; a read starts
// when the panel is shown, on "Refresh" and on a row (the model drops one asked for during a read).
ColumnLayout {
    id: panel
    required property var model
    required property HubViewState viewState

    readonly property changesPanel view: WorkingMaterial.changes(model.changesLoading, model.changeFiles.count,
                                                                 model.selectedChangePath, model.selectedChangeDiff,
                                                                 model.selectedChangeAST)
    readonly property var ast: model.selectedChangeAST
    readonly property bool offscreen: viewState.offscreenExport

    Component.onCompleted: model.actions.refreshChanges(model.selectedChangePath)

    RowLayout {
        Layout.fillWidth: true
        Text {
            objectName: "changesTitle"
            Layout.fillWidth: true
            text: panel.view.title
            textFormat: Text.PlainText
            font: HubFonts.font("default", 11, HubFonts.medium)
            color: HubPalette.ink
            elide: Text.ElideMiddle
            maximumLineCount: 1
            HoverHandler { id: titleHover }
            ToolTip.visible: titleHover.hovered && truncated
            ToolTip.text: panel.view.title
        }
        Button {
            objectName: "refreshChanges"
            text: qsTr("Refresh")
            enabled: !panel.model.changesLoading
            onClicked: panel.model.actions.refreshChanges(panel.model.selectedChangePath)
        }
    }
    Text {
        objectName: "changesError"
        Layout.fillWidth: true
        visible: panel.model.changesError.length > 0
        text: panel.model.changesError
        textFormat: Text.PlainText
        font: HubFonts.font("default", 10)
        color: HubPalette.muted
        wrapMode: Text.Wrap
    }
    BusyIndicator {
        visible: panel.view.progressShown
        running: visible
        implicitWidth: 16
        implicitHeight: 16
    }

    RowLayout {
        Layout.fillWidth: true
        Layout.fillHeight: true
        spacing: 12

        ListView {
            id: files
            objectName: "changeFiles"
            Layout.preferredWidth: 170
            Layout.fillHeight: true
            clip: true
            spacing: 8
            model: panel.model.changeFiles
            interactive: !panel.offscreen
            boundsBehavior: Flickable.StopAtBounds
            ScrollBar.vertical: ScrollBar {
                policy: panel.offscreen ? ScrollBar.AlwaysOff : ScrollBar.AlwaysOn
            }
            header: Item {
                width: files.width
                height: empty.visible ? empty.implicitHeight + 8 : 0
                Text {
                    id: empty
                    width: parent.width
                    visible: panel.view.emptyListShown
                    text: qsTr("No working-tree changes reported.")
                    textFormat: Text.PlainText
                    font: HubFonts.font("default", 11)
                    color: HubPalette.muted
                    wrapMode: Text.Wrap
                }
            }
            footer: Item {
                width: files.width
                height: truncated.visible ? truncated.implicitHeight + 8 + (panel.offscreen ? 0 : 8) : 0
                Text {
                    id: truncated
                    y: 8
                    width: parent.width
                    visible: panel.model.changesTruncated
                    text: qsTr("First 200 changed files shown.")
                    textFormat: Text.PlainText
                    font: HubFonts.font("default", 10)
                    color: HubPalette.muted
                    wrapMode: Text.Wrap
                }
            }
            delegate: AbstractButton {
                id: row
                required property string path
                required property string status
                readonly property color tint: path === panel.model.selectedChangePath ? HubPalette.green
                                                                                       : HubPalette.ink
                objectName: "changeFile:" + path
                width: files.width - 8
                Accessible.name: status + " " + path
                onClicked: panel.model.actions.refreshChanges(path)
                contentItem: RowLayout {
                    Text {
                        Layout.alignment: Qt.AlignTop
                        text: row.status
                        textFormat: Text.PlainText
                        font: HubFonts.font("monospaced", 10)
                        color: row.tint
                    }
                    Text {
                        id: pathText
                        Layout.alignment: Qt.AlignTop
                        Layout.fillWidth: true
                        text: TextCut.middle(row.path, font, width, 2)
                        textFormat: Text.PlainText
                        font: HubFonts.font("default", 10)
                        color: row.tint
                        wrapMode: Text.Wrap
                        maximumLineCount: 2
                        HoverHandler { id: pathHover }
                        ToolTip.visible: pathHover.hovered
                        ToolTip.text: row.path
                    }
                }
            }
        }

        Rectangle {
            Layout.fillHeight: true
            implicitWidth: 1
            color: HubPalette.line
        }

        WorkspaceViewport {
            Layout.fillWidth: true
            Layout.fillHeight: true
            offscreenExport: panel.offscreen
            horizontal: true
            vertical: true

            ColumnLayout {
                objectName: "changeDetail"
                spacing: 10
                width: implicitWidth

                Text {
                    visible: panel.view.astHeading.length > 0
                    text: panel.view.astHeading
                    textFormat: Text.PlainText
                    font: HubFonts.font("default", 11, HubFonts.semibold)
                    color: HubPalette.ink
                }
                Text {
                    visible: panel.view.astScope.length > 0
                    text: panel.view.astScope
                    textFormat: Text.PlainText
                    font: HubFonts.font("default", 9)
                    color: HubPalette.muted
                }
                TreeView {
                    id: outline
                    objectName: "astOutline"
                    visible: panel.view.outlineShown
                    Layout.preferredWidth: Math.max(contentWidth, 240)
                    Layout.preferredHeight: contentHeight
                    interactive: false
                    clip: true
                    model: ASTOutlineModel {
                        nodes: panel.view.outlineShown ? panel.ast.nodes : []
                    }
                    delegate: TreeViewDelegate {
                        id: node
                        required property string label
                        implicitHeight: 18
                        background: null
                        contentItem: TextEdit {
                            text: node.label
                            textFormat: TextEdit.PlainText
                            font: HubFonts.font("monospaced", 10)
                            color: HubPalette.ink
                            readOnly: true
                            selectByMouse: true
                        }
                    }
                }
                Text {
                    objectName: "astNote"
                    visible: panel.view.astNote.length > 0
                    text: panel.view.astNote
                    textFormat: Text.PlainText
                    font: HubFonts.font("default", 10)
                    color: HubPalette.muted
                }
                TextEdit {
                    objectName: "changeDiff"
                    visible: panel.view.diff.length > 0
                    text: panel.view.diff
                    textFormat: TextEdit.PlainText
                    font: HubFonts.font("monospaced", 10)
                    color: HubPalette.ink
                    readOnly: true
                    selectByMouse: true
                }
                Text {
                    visible: panel.view.diffCutNote.length > 0
                    text: panel.view.diffCutNote
                    textFormat: Text.PlainText
                    font: HubFonts.font("default", 10)
                    color: HubPalette.muted
                }
                Text {
                    objectName: "diffPlaceholder"
                    visible: panel.view.diffPlaceholder.length > 0
                    text: panel.view.diffPlaceholder
                    textFormat: Text.PlainText
                    font: HubFonts.font("default", 11)
                    color: HubPalette.muted
                }
            }
        }
    }
}
