import QtQuick.Dialogs

// One existing file, of the kinds its name filters admit.
FileDialog {
    fileMode: FileDialog.OpenFile
}
