// What each editor reads of an effect, made from editors::load_effect():
// Kdenlive's effect descriptor and presets file, Shotcut's filter folder.
#pragma once

#include <string>

#include "editors_notes.h"

namespace editors {

// kdenlive/frei0r_NAME.xml
std::string kdenlive_descriptor(const effect& e);
// kdenlive/presets/frei0r.NAME.json
std::string kdenlive_presets(const effect& e);
// shotcut/NAME/meta.qml
std::string shotcut_meta(const effect& e);
// shotcut/NAME/ui.qml
std::string shotcut_ui(const effect& e);

}  // namespace editors
