#include "editor/EditorSnapshot.h"

#include <exception>
#include <vector>

#include "editor/Editor.h"
#include "editor/platform/raster/RasterWindowLayer.h"
#include "instrument/Instrument.h"

namespace veltrosa {

namespace {

bool paintToPng(std::span<const unsigned char> chunk, const std::string& path, std::string& error) {
    // A private instrument: the picture shows exactly what its editor shows
    // after loading the chunk, names and values included.
    Instrument instrument(nullptr);
    std::vector<unsigned char> bytes(chunk.begin(), chunk.end());
    if (instrument.setChunk(bytes.data(), static_cast<int32_t>(bytes.size()), false) != static_cast<int32_t>(bytes.size())) {
        error = "the state chunk must hold 192 bytes, not " + std::to_string(bytes.size());
        return false;
    }
    Editor* editor = instrument.instrumentEditor();
    if (editor == nullptr) {
        error = "the instrument has no editor";
        return false;
    }
    RasterWindowLayer* layer = nullptr;
    editor->setWindowLayerFactory([&layer] {
        auto raster = std::make_unique<RasterWindowLayer>();
        layer = raster.get();
        return raster;
    });
    int parent = 0;  // any window will do for an image in memory
    editor->open(&parent);
    const bool written = layer != nullptr && layer->writePng(path, error);
    if (layer == nullptr)
        error = "the editor window could not be created";
    editor->close();
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
