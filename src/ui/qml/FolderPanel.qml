import QtQuick.Dialogs

// One existing folder; files are not offered. The title is the message above the choice, or none.
FolderDialog {
}
