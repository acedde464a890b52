import QtQuick
import QtQuick.Controls
import QtQuick.Controls.impl
import QtQuick.Layouts
import Tavrilo.Ui

// The events card's content: reconciliation and gates. The header, the counters, the gates content
// (scrolled in the window, cut at the bottom off screen), then the release checks and the status
// line, which stay in view whatever the gates content holds. `GatesPresenter` decides every text
// and which blocks show; this view lays them out and forwards presses to the root view's state and
// to the model's actions.
ColumnLayout {
    id: section
    required property var model
    required property HubViewState viewState

    Layout.fillWidth: true
    Layout.fillHeight: true
    spacing: 16

    GatesPresenter {
        id: gates
        model: section.model
        viewState: section.viewState
    }

    // `list` with `key` in it once.
    function including(list, key) { return list.indexOf(key) < 0 ? list.concat([key]) : list }
    function excluding(list, key) { return list.filter(item => item !== key) }

    component Counter: RowLayout {
        id: counter
        required property string symbol
        required property string text
        spacing: 4
        IconImage {
            name: HubIcons.name(counter.symbol)
            color: HubPalette.muted
            sourceSize: Qt.size(10, 10)
        }
        Text {
            text: counter.text
            textFormat: Text.PlainText
            font: HubFonts.font("default", 10, HubFonts.medium)
            color: HubPalette.muted
        }
    }

    SectionHeader {
        model: section.model
        title: "Events"
        caption: "RECONCILIATION & GATES"
        icon: "text.alignleft"
    }

    // One row of counters; on a card too narrow for the three, the row wraps rather than widening
    // the section past its card, which would cut every block below at the card's edge.
    Flow {
        objectName: "counters"
        Layout.fillWidth: true
        spacing: 13
        Accessible.role: Accessible.StaticText
        Accessible.name: [gates.section.positionsCounter, gates.section.approvalsCounter,
                          gates.section.inputRequestsCounter].join(", ")
        Counter { symbol: "person.2"; text: gates.section.positionsCounter }
        Counter { symbol: "checkmark.shield"; text: gates.section.approvalsCounter }
        Counter { symbol: "text.bubble"; text: gates.section.inputRequestsCounter }
    }

    WorkspaceViewport {
        objectName: "gatesViewport"
        Layout.fillWidth: true
        Layout.fillHeight: true
        offscreenExport: section.viewState.offscreenExport

        ColumnLayout {
            objectName: "gatesContent"
            width: parent ? parent.width : 0
            spacing: 16

            TurnStatusBlock {
                objectName: "turnStatus"
                visible: gates.section.shows("turnError") || gates.section.shows("turnCompletion")
                Layout.fillWidth: true
                status: gates.turnStatus
                onReviewReasonToggled: section.viewState.expandedReviewReason = !section.viewState.expandedReviewReason
            }
            PositionsBlock {
                objectName: "positions"
                Layout.fillWidth: true
                block: gates.positions
                rows: gates.positionRows
                onOwnerToggled: owner => section.viewState.expandedPositionOwners =
                                HubViewState.toggled(section.viewState.expandedPositionOwners, owner)
            }
            SpecialistUpdatesBlock {
                objectName: "specialistUpdates"
                visible: gates.section.shows("specialistUpdates")
                Layout.fillWidth: true
                updates: gates.updates
                rows: gates.updateRows
                onAgentToggled: agent => section.viewState.expandedResponseOwners =
                                HubViewState.toggled(section.viewState.expandedResponseOwners, agent)
            }
            ThinkingBlock {
                objectName: "thinking"
                Layout.fillWidth: true
                presenter: gates
                offscreenExport: section.viewState.offscreenExport
                onOverrideChosen: open => section.viewState.thinkingOverride = open
            }
            Text {
                objectName: "noApprovalPending"
                visible: gates.section.shows("noApprovalPending")
                text: qsTr("No approval pending")
                font: HubFonts.font("default", 9)
                color: HubPalette.muted
            }
            Repeater {
                model: gates.approvals
                delegate: ApprovalCard {
                    required property approvalCard modelData
                    objectName: "approval:" + modelData.id
                    Layout.fillWidth: true
                    card: modelData
                    onChevronPressed: section.viewState.expandedApprovalIDs =
                                      HubViewState.toggled(section.viewState.expandedApprovalIDs, modelData.id)
                    onAnswerPressed: decision => section.model.actions.answerApproval(modelData.id, decision)
                }
            }
            Rectangle {
                objectName: "inputRequests"
                Layout.fillWidth: true
                implicitHeight: requests.implicitHeight + 24
                radius: 9
                color: HubPalette.paper
                InputRequestsCard {
                    id: requests
                    anchors { left: parent.left; right: parent.right; top: parent.top; margins: 12 }
                    model: section.model
                    viewState: section.viewState
                }
            }
            Rectangle {
                objectName: "hairline"
                Layout.fillWidth: true
                implicitHeight: 0.5
                color: HubPalette.line
            }
            JournalBlock {
                objectName: "journal"
                Layout.fillWidth: true
                journal: gates.journal
                rows: gates.journalRows
            }
        }
    }

    ReleaseChecks {
        objectName: "releaseChecks"
        Layout.fillWidth: true
        checks: gates.releaseChecks
        openDetails: section.viewState.expandedReleaseDetails
        onDetailsOpened: key => section.viewState.expandedReleaseDetails =
                         section.including(section.viewState.expandedReleaseDetails, key)
        onDetailsClosed: key => section.viewState.expandedReleaseDetails =
                         section.excluding(section.viewState.expandedReleaseDetails, key)
    }

    Text {
        objectName: "statusLine"
        Layout.fillWidth: true
        text: gates.section.statusText
        textFormat: Text.PlainText
        wrapMode: Text.Wrap
        maximumLineCount: 3
        elide: Text.ElideRight
        font: HubFonts.font("default", 9)
        color: gates.section.statusColor
    }
}
