import QtQuick
import Tavrilo.Ui

// One PDF file, its pages one under another at the view's width. The document is loaded again only
// when the address changes, so an unchanged address keeps its scroll position; a file that cannot
// be opened shows nothing.
Item {
    id: root

    required property url url
    readonly property alias pdf: file

    PdfFile {
        id: file
        source: root.url
    }

    ListView {
        id: pages
        anchors.fill: parent
        clip: true
        spacing: 8
        model: file.pageCount
        delegate: PdfPage {
            required property int index
            readonly property size points: root.pdf.pagePointSize(index)
            file: root.pdf
            page: index
            width: pages.width
            height: points.width > 0 ? width * points.height / points.width : 0
        }
    }
}
