// For test programs that draw editors: when the run ends every editor is
// gone, and the font and drawing caches Cairo and fontconfig keep for the
// process go too, so that the leak checker sees a clean exit.
#pragma once

#include <gtest/gtest.h>

#include "editor/platform/raster/CairoSurface.h"

namespace testing_support {

class DrawingCaches : public ::testing::Environment {
public:
    void TearDown() override { veltrosa::CairoSurface::releaseProcessCaches(); }
};

// Inline: one registration per program, however many files include this.
inline const auto* const drawingCaches = ::testing::AddGlobalTestEnvironment(new DrawingCaches);

}  // namespace testing_support
