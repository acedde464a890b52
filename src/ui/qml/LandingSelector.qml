import QtQuick
import QtQuick.Controls
import QtQuick.Controls.impl
import QtQuick.Layouts
import Tavrilo.Ui

// The landing selector: the first screen, and the one the header's project button returns to.
// Everything it shows and allows is `landingView(...)`, worked out in C++ from the model and the
// repository toggle; this file lays it out and hands every press to `model.actions`. A window too
// short for the column scrolls it; the footer sits at the bottom when there is room.
Item {
    id: selector
    required property var model
    required property HubViewState viewState

    LandingPresenter {
        id: presenter
        model: selector.model
        showingRepository: selector.viewState.showingRepository
        columnWidth: selector.width
    }
    readonly property landingView view: presenter.view

    Flickable {
        id: scroller
        anchors.fill: parent
        contentWidth: width
        contentHeight: Math.max(height, column.implicitHeight + 128)
        // Off screen, scrolling becomes clipping.
        interactive: !selector.viewState.offscreenExport && contentHeight > height
        boundsBehavior: Flickable.StopAtBounds
        clip: true
        ScrollBar.vertical: ScrollBar {
            policy: scroller.interactive ? ScrollBar.AsNeeded : ScrollBar.AlwaysOff
        }

        ColumnLayout {
            id: column
            x: 64
            y: 64
            width: scroller.width - 128
            height: scroller.contentHeight - 128
            spacing: 0

            // 1. The mark and the signed-in capsule.
            RowLayout {
                Layout.fillWidth: true
                Layout.bottomMargin: 95
                HubBrand {}
                Item { Layout.fillWidth: true }
                ConnectionLabel {
                    objectName: "connectionLabel"
                    text: selector.view.connectionText
                    dotColor: selector.view.connectionDotColor
                }
            }

            // 2–4. Eyebrow, headline, subtitle.
            Text {
                text: qsTr("YOUR APPLICATIONS")
                textFormat: Text.PlainText
                font.family: HubFonts.monospacedFamily
                font.pixelSize: 10
                font.weight: HubFonts.medium
                font.letterSpacing: 2.5
                color: HubPalette.muted
            }
            Text {
                id: headline
                Layout.topMargin: 18
                text: qsTr("Pick up where\nyou left off.")
                textFormat: Text.PlainText
                font.family: HubFonts.serifFamily
                font.pixelSize: 57
                font.weight: HubFonts.regular
                font.letterSpacing: -2
                lineHeightMode: Text.FixedHeight
                lineHeight: headlineMetrics.lineSpacing - 5
                color: HubPalette.ink
                FontMetrics {
                    id: headlineMetrics
                    font: headline.font
                }
            }
            Text {
                Layout.topMargin: 20
                text: qsTr("One workspace for your people, documents, and decisions.")
                textFormat: Text.PlainText
                font: HubFonts.body
                color: HubPalette.muted
            }

            // 5. The project that is configured now, entered as it is.
            AbstractButton {
                id: card
                objectName: "projectCard"
                Layout.topMargin: 42
                Layout.fillWidth: true
                Layout.maximumWidth: 710
                padding: 23
                enabled: selector.view.projectCardEnabled
                opacity: enabled ? 1 : 0.5
                Accessible.role: Accessible.Button
                Accessible.name: selector.view.projectCardAccessibleName
                onClicked: selector.model.actions.selectExistingProfile()

                background: Rectangle {
                    radius: 18
                    color: card.down ? HubPalette.paper : HubPalette.card
                    border.width: 1
                    border.color: Qt.rgba(HubPalette.line.r, HubPalette.line.g, HubPalette.line.b, 0.7)
                }
                contentItem: RowLayout {
                    spacing: 18
                    Rectangle {
                        implicitWidth: 56
                        implicitHeight: 56
                        radius: 13
                        color: HubPalette.paper
                        IconImage {
                            anchors.centerIn: parent
                            name: HubIcons.name("folder")
                            color: HubPalette.ink
                            sourceSize: Qt.size(25, 25)
                        }
                    }
                    ColumnLayout {
                        Layout.fillWidth: true
                        spacing: 6
                        Text {
                            objectName: "projectName"
                            Layout.fillWidth: true
                            text: selector.view.projectName
                            textFormat: Text.PlainText
                            elide: Text.ElideMiddle
                            font: HubFonts.font("default", 17, HubFonts.medium)
                            color: HubPalette.ink
                            ToolTip.text: selector.view.projectName
                            ToolTip.visible: nameHover.hovered
                            ToolTip.delay: 700
                            HoverHandler { id: nameHover }
                        }
                        Text {
                            Layout.fillWidth: true
                            text: selector.view.projectDetail
                            textFormat: Text.PlainText
                            elide: Text.ElideMiddle
                            font: HubFonts.font("default", 11)
                            color: HubPalette.muted
                        }
                    }
                    Text {
                        text: qsTr("Open workspace")
                        textFormat: Text.PlainText
                        font: HubFonts.font("default", 12, HubFonts.medium)
                        color: HubPalette.ink
                    }
                    IconImage {
                        name: HubIcons.name("arrow.up.right")
                        color: HubPalette.ink
                        sourceSize: Qt.size(14, 14)
                    }
                }
            }

            // 6. The action row.
            RowLayout {
                Layout.topMargin: 22
                spacing: 12

                Button {
                    objectName: "signIn"
                    text: selector.view.signInText
                    font: HubFonts.font("default", 11)
                    enabled: selector.view.signInEnabled
                    onClicked: selector.model.actions.signIn()
                }
                // The help says why the chooser is disabled during a run, so it must show on a
                // disabled button: the hover is taken by an enabled item around it.
                Item {
                    implicitWidth: choose.implicitWidth
                    implicitHeight: choose.implicitHeight
                    ToolTip.text: selector.view.chooseProjectHelp
                    ToolTip.visible: chooseHover.hovered
                    ToolTip.delay: 700
                    HoverHandler { id: chooseHover }
                    Button {
                        id: choose
                        objectName: "chooseProject"
                        anchors.fill: parent
                        text: qsTr("Choose project folder")
                        font: HubFonts.font("default", 11)
                        enabled: selector.view.chooseProjectEnabled
                        onClicked: selector.model.actions.chooseProject()
                    }
                }
                Text {
                    visible: selector.view.projectLockedShown
                    text: qsTr("Project locked during this run")
                    textFormat: Text.PlainText
                    font: HubFonts.font("default", 9)
                    color: HubPalette.muted
                }
                Button {
                    objectName: "repositoryToggle"
                    visible: selector.view.repositoryToggleShown
                    text: selector.view.repositoryToggleText
                    font: HubFonts.font("default", 11)
                    enabled: selector.view.repositoryToggleEnabled
                    onClicked: selector.viewState.showingRepository = !selector.viewState.showingRepository
                }
                LandingMenu {
                    objectName: "workspaceMenu"
                    visible: selector.view.workspaceMenuShown
                    text: selector.view.workspaceMenuText
                    enabled: selector.view.workspaceMenuEnabled
                    titles: selector.view.workspaceTitles
                    keys: selector.view.workspaceIDs
                    onChosen: key => selector.model.actions.selectWorkspace(key)
                }
                IconImage {
                    name: HubIcons.name("lock.shield")
                    color: HubPalette.muted
                    sourceSize: Qt.size(12, 12)
                }
                Text {
                    objectName: "membership"
                    text: selector.view.membershipText
                    textFormat: Text.PlainText
                    font: HubFonts.font("default", 11)
                    color: HubPalette.muted
                }
            }

            // 7. Signed in: who and where, and the recent projects.
            RowLayout {
                objectName: "identityLine"
                visible: selector.view.identityShown
                Layout.topMargin: 14
                // As wide as its texts, and never wider than the column: then the layout narrows them
                // and they lose their middles.
                Layout.fillWidth: false
                Layout.maximumWidth: column.width
                spacing: 10
                Accessible.role: Accessible.StaticText
                Accessible.name: selector.view.identityAccessibleName

                Text {
                    text: selector.view.identityName
                    textFormat: Text.PlainText
                    elide: Text.ElideMiddle
                    font: HubFonts.font("default", 11, HubFonts.medium)
                    color: HubPalette.ink
                    Accessible.ignored: true
                }
                Repeater {
                    model: selector.view.identityDetails
                    delegate: Text {
                        required property string modelData
                        text: modelData
                        textFormat: Text.PlainText
                        elide: Text.ElideMiddle
                        font: HubFonts.font("default", 11)
                        color: HubPalette.ink
                        Accessible.ignored: true
                    }
                }
            }
            LandingMenu {
                objectName: "recentMenu"
                visible: selector.view.recentMenuShown
                Layout.topMargin: 10
                text: selector.view.recentMenuText
                help: selector.view.recentMenuHelp
                enabled: selector.view.recentMenuEnabled
                titles: selector.view.recentTitles
                keys: selector.view.recentDirectories
                tips: selector.view.recentDirectories
                onChosen: key => selector.model.actions.selectRecentProject(key)
            }

            // 8. The repository entry.
            RepositoryForm {
                objectName: "repositoryForm"
                visible: selector.view.repositoryFormShown
                enabled: selector.view.repositoryFormEnabled
                Layout.topMargin: 12
                Layout.fillWidth: true
                Layout.maximumWidth: 710
                model: selector.model
                viewState: selector.viewState
                buttonText: selector.view.repositoryButtonText
            }

            // 9. What the last project selection has to say.
            Text {
                objectName: "notice"
                visible: selector.view.noticeShown
                Layout.topMargin: 8
                Layout.fillWidth: true
                Layout.maximumWidth: 710
                text: selector.view.noticeText
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                maximumLineCount: 2
                elide: Text.ElideRight
                font: HubFonts.font("default", 10)
                color: HubPalette.muted
            }

            // 10. The status line: selectable, at most three lines.
            TextEdit {
                id: status
                objectName: "statusLine"
                Layout.topMargin: 12
                Layout.fillWidth: true
                Layout.maximumWidth: 710
                Layout.preferredHeight: Math.min(contentHeight, 3 * statusMetrics.lineSpacing)
                clip: true
                text: selector.view.statusText
                textFormat: TextEdit.PlainText
                wrapMode: TextEdit.Wrap
                readOnly: true
                selectByMouse: true
                font: HubFonts.font("default", 11)
                color: selector.view.statusColor
                selectionColor: HubPalette.green
                Accessible.role: Accessible.StaticText
                Accessible.name: selector.view.statusAccessibleName
                ToolTip.text: selector.view.statusText
                ToolTip.visible: statusHover.hovered && selector.view.statusText.length > 0
                ToolTip.delay: 700
                HoverHandler { id: statusHover }
                FontMetrics {
                    id: statusMetrics
                    font: status.font
                }
            }

            // Pushes the footer to the bottom; in a short window it keeps it off the status line.
            Item {
                Layout.fillHeight: true
                Layout.minimumHeight: 12
            }

            // 11. The footer.
            RowLayout {
                Layout.fillWidth: true
                Text {
                    text: qsTr("BUILT AROUND YOUR THINKING.")
                    textFormat: Text.PlainText
                    font.family: HubFonts.monospacedFamily
                    font.pixelSize: 9
                    font.letterSpacing: 1.7
                    color: HubPalette.muted
                }
                Item { Layout.fillWidth: true }
                Text {
                    text: selector.view.footerText
                    textFormat: Text.PlainText
                    font: HubFonts.font("monospaced", 9)
                    color: HubPalette.muted
                }
            }
        }

        // The summary layer: over the padded column, taking no clicks; the panel from 1200 points.
        Item {
            width: scroller.contentWidth
            height: scroller.contentHeight
            SelectorSummary {
                objectName: "selectorSummary"
                visible: selector.view.summaryShown
                view: selector.view
                width: 330
                x: parent.width - 64 - width
                y: 348 - height / 2
            }
        }
    }
}
