import QtQuick
import QtQuick.Controls

// A text button without a bezel: only its label, in the button's text colour. A flat button of the
// style keeps its invisible 100 by 40 point background, which sat the label off its column and
// pushed every row below it down; this one is as large as its label.
Button {
    flat: true
    padding: 0
    background: null
}
