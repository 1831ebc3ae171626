// Made by tools/editordesc from the plug-in and docs/params/vestrale.editors
// (scripts/update-docs.sh); do not edit.
import QtQuick 2.12
import QtQuick.Controls 2.12
import QtQuick.Layouts 1.12
import Shotcut.Controls 1.0 as Shotcut

Shotcut.KeyframableFilter {
    keyframableParameters: []
    startValues: []
    middleValues: []
    endValues: []
    width: 350
    height: 122

    function nearest(values, v) {
        var best = 0;
        for (var i = 1; i < values.length; i++)
            if (Math.abs(values[i] - v) < Math.abs(values[best] - v))
                best = i;
        return best;
    }

    function setControls() {
        setKeyframableControls();
        blockUpdate = true;
        c0.value = Math.floor(filter.getDouble('0') * 15) + (1);
        c1.checked = filter.getDouble('1') >= 0.5;
        blockUpdate = false;
    }

    function setKeyframableControls() {
        var position = getPosition();
        blockUpdate = true;
        blockUpdate = false;
        enableControls(isSimpleKeyframesActive());
    }

    function enableControls(enabled) {
    }

    function updateSimpleKeyframes() {
        setKeyframableControls();
    }

    Component.onCompleted: {
        // Whole frames, in order, to one instance: MLT takes threads 0 as
        // one slice of the frame per processor.
        filter.set('threads', 1);
        if (filter.isNew) {
            filter.set('0', "0.13333333333333333");
            filter.set('1', 0);
            filter.savePreset(preset.parameters, qsTr("Smooth delay 3"));
            filter.set('0', "1");
            filter.set('1', 0);
            filter.savePreset(preset.parameters, qsTr("Smooth delay 16"));
            filter.set('0', "0.2");
            filter.set('1', 1);
            filter.savePreset(preset.parameters, qsTr("Simple delay 4"));
        }
        if (filter.isNew || filter.get('0') === '')
            filter.set('0', "0");
        if (filter.isNew || filter.get('1') === '')
            filter.set('1', 0);
        if (filter.isNew)
            filter.savePreset(preset.parameters);
        setControls();
    }

    GridLayout {
        anchors.fill: parent
        anchors.margins: 8
        columns: 4

        Label {
            text: qsTr('Preset')
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.Preset {
            id: preset

            parameters: ['0', '1']
            Layout.columnSpan: 3
            onBeforePresetLoaded: resetSimpleKeyframes()
            onPresetSelected: {
                setControls();
                initializeSimpleKeyframes();
            }
        }

        Label {
            text: qsTr("Delay")
            Layout.alignment: Qt.AlignRight
        }

        SpinBox {
            id: c0

            from: 1
            to: 16
            editable: true
            textFromValue: function(value) { return value + " frames"; }
            valueFromText: function(text) { return parseInt(text); }
            onValueModified: filter.set('0', String((value - (1)) / 15))
        }

        Shotcut.UndoButton {
            onClicked: {
                c0.value = 1;
                filter.set('0', "0");
            }
        }

        Item {
            width: 1
        }

        Label {
            Layout.alignment: Qt.AlignRight
        }

        CheckBox {
            id: c1

            text: qsTr("Simple mode")
            onClicked: filter.set('1', checked ? 1 : 0)
        }

        Shotcut.UndoButton {
            onClicked: {
                c1.checked = false;
                filter.set('1', 0);
            }
        }

        Item {
            width: 1
        }

        Item {
            Layout.fillHeight: true
        }
    }

    Connections {
        function onChanged() {
            setKeyframableControls();
        }

        function onInChanged() {
            updateSimpleKeyframes();
        }

        function onOutChanged() {
            updateSimpleKeyframes();
        }

        function onAnimateInChanged() {
            updateSimpleKeyframes();
        }

        function onAnimateOutChanged() {
            updateSimpleKeyframes();
        }

        function onPropertyChanged() {
            setControls();
        }

        target: filter
    }

    Connections {
        function onPositionChanged() {
            setKeyframableControls();
        }

        target: producer
    }
}
