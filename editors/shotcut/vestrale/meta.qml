// Made by tools/editordesc from the plug-in and docs/params/vestrale.editors
// (scripts/update-docs.sh); do not edit.
import QtQuick 2.0
import org.shotcut.qml 1.0

Metadata {
    type: Metadata.Filter
    name: qsTr("Harris Shutter (vestrale)")
    keywords: qsTr("Delayed RGB split: red, green and blue come from frames taken at different moments, so whatever moves splits into colour fringes") + ' vestrale'
    mlt_service: "frei0r.vestrale"
    qml: "ui.qml"
    icon: "icon.png"
}
