// Linked in where no window layer exists for the platform: the editor opens
// without a window and shows nothing.
#include "editor/platform/WindowLayer.h"

namespace veltrosa {

std::unique_ptr<WindowLayer> createWindowLayer() { return nullptr; }

}  // namespace veltrosa
