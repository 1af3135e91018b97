#include "ui/EditorSnapshot.h"

#include <exception>

#include "editor/platform/raster/RasterWindowLayer.h"
#include "core/State.h"
#include "ui/Editor.h"

namespace veltrosa {

namespace {

// The values of a chunk: the picture is what the plug-in's editor shows
// after loading that chunk.
class ChunkParameters final : public ParameterHost {
public:
    explicit ChunkParameters(const ParameterValues& values) : values_(values) {}
    float parameterValue(int32_t index) override {
        return isParam(index) ? values_[static_cast<std::size_t>(index)] : 0.0f;
    }
    void setParameterFromUi(int32_t, float, bool) override {}

private:
    ParameterValues values_;
};

bool paintToPng(std::span<const unsigned char> chunk, const std::string& path, std::string& error) {
    const auto values = decodeState(chunk);
    if (!values) {
        error = "the state chunk must hold " + std::to_string(kStateBytes) + " bytes, not " +
                std::to_string(chunk.size());
        return false;
    }
    ChunkParameters parameters(*values);
    Editor editor(&parameters);
    editor.refreshControls();
    RasterWindowLayer* layer = nullptr;
    editor.setWindowLayerFactory([&layer] {
        auto raster = std::make_unique<RasterWindowLayer>();
        layer = raster.get();
        return raster;
    });
    int parent = 0;  // any window will do for an image in memory
    editor.open(&parent);
    const bool written = layer != nullptr && layer->writePng(path, error);
    if (layer == nullptr)
        error = "the editor window could not be created";
    editor.close();
    return written;
}

}  // namespace

bool writeEditorPng(std::span<const unsigned char> chunk, const std::string& path, std::string& error) {
    try {
        return paintToPng(chunk, path, error);
    } catch (const std::exception& e) {
        error = e.what();
    } catch (...) {
        error = "unknown failure";
    }
    return false;
}

void releaseEditorDrawingCaches() { CairoSurface::releaseProcessCaches(); }

}  // namespace veltrosa
