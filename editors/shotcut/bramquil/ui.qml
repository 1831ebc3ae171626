// Made by tools/editordesc from the plug-in and docs/params/bramquil.editors
// (scripts/update-docs.sh); do not edit.
import QtQuick 2.12
import QtQuick.Controls 2.12
import QtQuick.Layouts 1.12
import Shotcut.Controls 1.0 as Shotcut

Shotcut.KeyframableFilter {
    keyframableParameters: ['1', '3', '5', '6']
    startValues: [0.5, 0, 0.25, 1]
    middleValues: [0.5, 0, 0.25, 1]
    endValues: [0.5, 0, 0.25, 1]
    width: 350
    height: 302

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
        c0.currentIndex = nearest(c0.values, filter.getDouble('0'));
        c2.checked = filter.getDouble('2') >= 0.5;
        c4.checked = filter.getDouble('4') >= 0.5;
        blockUpdate = false;
    }

    function setKeyframableControls() {
        var position = getPosition();
        blockUpdate = true;
        c1.value = filter.getDouble('1', position) * 100;
        k1.checked = filter.animateIn <= 0 && filter.animateOut <= 0 && filter.keyframeCount('1') > 0;
        c3.value = filter.getDouble('3', position) * 63 + (1);
        k3.checked = filter.animateIn <= 0 && filter.animateOut <= 0 && filter.keyframeCount('3') > 0;
        c5.value = filter.getDouble('5', position) * 100;
        k5.checked = filter.animateIn <= 0 && filter.animateOut <= 0 && filter.keyframeCount('5') > 0;
        c6.value = filter.getDouble('6', position) * 100;
        k6.checked = filter.animateIn <= 0 && filter.animateOut <= 0 && filter.keyframeCount('6') > 0;
        blockUpdate = false;
        enableControls(isSimpleKeyframesActive());
    }

    function enableControls(enabled) {
        c1.enabled = enabled;
        c3.enabled = enabled;
        c5.enabled = enabled;
        c6.enabled = enabled;
    }

    function updateSimpleKeyframes() {
        setKeyframableControls();
        updateFilter('1', c1.value / 100, k1, null);
        updateFilter('3', (c3.value - (1)) / 63, k3, null);
        updateFilter('5', c5.value / 100, k5, null);
        updateFilter('6', c6.value / 100, k6, null);
    }

    Component.onCompleted: {
        // Whole frames, in order, to one instance: MLT takes threads 0 as
        // one slice of the frame per processor.
        filter.set('threads', 1);
        if (filter.isNew) {
            filter.set('0', 0);
            filter.set('1', 0.5);
            filter.set('2', 1);
            filter.set('3', 0);
            filter.set('4', 0);
            filter.set('5', 0.25);
            filter.set('6', 1);
            filter.savePreset(preset.parameters, qsTr("Scan columns"));
            filter.set('0', 0);
            filter.set('1', 0.5);
            filter.set('2', 0);
            filter.set('3', 0.0952380952);
            filter.set('4', 0);
            filter.set('5', 0.25);
            filter.set('6', 1);
            filter.savePreset(preset.parameters, qsTr("Scan wide rows"));
            filter.set('0', 1);
            filter.set('1', 0.5);
            filter.set('2', 1);
            filter.set('3', 0.0317460317);
            filter.set('4', 0);
            filter.set('5', 0.25);
            filter.set('6', 1);
            filter.savePreset(preset.parameters, qsTr("Stargate outwards"));
            filter.set('0', 1);
            filter.set('1', 0.5);
            filter.set('2', 1);
            filter.set('3', 0.0317460317);
            filter.set('4', 1);
            filter.set('5', 0.25);
            filter.set('6', 1);
            filter.savePreset(preset.parameters, qsTr("Stargate inwards"));
        }
        if (filter.isNew || filter.get('0') === '')
            filter.set('0', 0);
        if (filter.isNew || filter.get('1') === '')
            filter.set('1', 0.5);
        if (filter.isNew || filter.get('2') === '')
            filter.set('2', 1);
        if (filter.isNew || filter.get('3') === '')
            filter.set('3', 0);
        if (filter.isNew || filter.get('4') === '')
            filter.set('4', 0);
        if (filter.isNew || filter.get('5') === '')
            filter.set('5', 0.25);
        if (filter.isNew || filter.get('6') === '')
            filter.set('6', 1);
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

            parameters: ['0', '1', '2', '3', '4', '5', '6']
            Layout.columnSpan: 3
            onBeforePresetLoaded: resetSimpleKeyframes()
            onPresetSelected: {
                setControls();
                initializeSimpleKeyframes();
            }
        }

        Label {
            text: qsTr("Mode")
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.ComboBox {
            id: c0

            property var values: [0, 1]

            model: [qsTr("Scan"), qsTr("Stargate")]
            onActivated: filter.set('0', values[currentIndex])
        }

        Shotcut.UndoButton {
            onClicked: {
                c0.currentIndex = 0;
                filter.set('0', 0);
            }
        }

        Item {
            width: 1
        }

        Label {
            text: qsTr("Position")
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.SliderSpinner {
            id: c1

            minimumValue: 0
            maximumValue: 100
            decimals: 1
            stepSize: 0.1
            suffix: " %"
            onValueChanged: updateFilter('1', value / 100, k1, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: {
                c1.value = 50;
            }
        }

        Shotcut.KeyframesButton {
            id: k1

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, '1', c1.value / 100);
            }
        }

        Label {
            Layout.alignment: Qt.AlignRight
        }

        CheckBox {
            id: c2

            text: qsTr("Vertical slits")
            onClicked: filter.set('2', checked ? 1 : 0)
        }

        Shotcut.UndoButton {
            onClicked: {
                c2.checked = true;
                filter.set('2', 1);
            }
        }

        Item {
            width: 1
        }

        Label {
            text: qsTr("Width")
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.SliderSpinner {
            id: c3

            minimumValue: 1
            maximumValue: 64
            decimals: 0
            stepSize: 1
            suffix: " slits"
            onValueChanged: updateFilter('3', (value - (1)) / 63, k3, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: {
                c3.value = 1;
            }
        }

        Shotcut.KeyframesButton {
            id: k3

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, '3', (c3.value - (1)) / 63);
            }
        }

        Label {
            Layout.alignment: Qt.AlignRight
        }

        CheckBox {
            id: c4

            text: qsTr("Reverse")
            onClicked: filter.set('4', checked ? 1 : 0)
        }

        Shotcut.UndoButton {
            onClicked: {
                c4.checked = false;
                filter.set('4', 0);
            }
        }

        Item {
            width: 1
        }

        Label {
            text: qsTr("Depth")
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.SliderSpinner {
            id: c5

            minimumValue: 0
            maximumValue: 100
            decimals: 1
            stepSize: 0.1
            suffix: " %"
            onValueChanged: updateFilter('5', value / 100, k5, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: {
                c5.value = 25;
            }
        }

        Shotcut.KeyframesButton {
            id: k5

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, '5', c5.value / 100);
            }
        }

        Label {
            text: qsTr("Fade")
            Layout.alignment: Qt.AlignRight
        }

        Shotcut.SliderSpinner {
            id: c6

            minimumValue: 0
            maximumValue: 100
            decimals: 1
            stepSize: 0.1
            suffix: " %"
            onValueChanged: updateFilter('6', value / 100, k6, getPosition())
        }

        Shotcut.UndoButton {
            onClicked: {
                c6.value = 100;
            }
        }

        Shotcut.KeyframesButton {
            id: k6

            onToggled: {
                enableControls(true);
                toggleKeyframes(checked, '6', c6.value / 100);
            }
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
