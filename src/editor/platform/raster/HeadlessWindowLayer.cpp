// Linked in where no platform window layer is built: the editor opens into
// an image in memory.
#include "editor/platform/raster/RasterWindowLayer.h"

namespace veltrosa {

std::unique_ptr<WindowLayer> createWindowLayer(WindowClassScope) { return std::make_unique<RasterWindowLayer>(); }

double desktopScale() { return 1.0; }

}  // namespace veltrosa
