// Which text explains an engine error code in the stream error box.
#pragma once

namespace playback {

// The text id (IDS_ENGINE_ERROR_...) for an error code of the engine; the
// "unknown error" text for any code the table does not name.
int EngineErrorTextId(int code);

}  // namespace playback
