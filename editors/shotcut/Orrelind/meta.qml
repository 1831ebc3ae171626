// Made by tools/editordesc from the plug-in and docs/params/Orrelind.editors
// (scripts/update-docs.sh); do not edit.
import QtQuick 2.0
import org.shotcut.qml 1.0

Metadata {
    type: Metadata.Filter
    name: qsTr("Whirl and Pinch (Orrelind)")
    keywords: qsTr("Turns the picture about a centre, most near the centre and not at all at the rim, and draws it towards or away from the centre") + ' Orrelind'
    mlt_service: "frei0r.Orrelind"
    qml: "ui.qml"
    icon: "icon.png"

    keyframes {
        allowAnimateIn: true
        allowAnimateOut: true
        simpleProperties: ['0', '1', '2', '3', '4']
        parameters: [
            Parameter {
                name: qsTr("Whirl")
                property: '0'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: qsTr("Pinch")
                property: '1'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: qsTr("Radius")
                property: '2'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: qsTr("Centre X")
                property: '3'
                isCurve: true
                minimum: 0
                maximum: 1
            },
            Parameter {
                name: qsTr("Centre Y")
                property: '4'
                isCurve: true
                minimum: 0
                maximum: 1
            }
        ]
    }
}
