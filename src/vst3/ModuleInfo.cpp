// Writes the bundle's Contents/Resources/moduleinfo.json, which lets hosts
// list the classes without loading the module, from the factory's own
// answers and the instrument's identity, so that the two cannot disagree.
#include <cstdio>
#include <string>

#include "core/Identity.h"
#include "vst3/Factory.h"

namespace {

std::string hex(const char* id) {
    std::string text;
    char byte[3];
    for (int i = 0; i < 16; ++i) {
        std::snprintf(byte, sizeof byte, "%02X", static_cast<unsigned char>(id[i]));
        text += byte;
    }
    return text;
}

std::string subCategories(const char* text) {
    std::string list;
    std::string item;
    for (const char* c = text;; ++c) {
        if (*c == '|' || *c == '\0') {
            if (!item.empty())
                list += (list.empty() ? "\"" : ", \"") + item + "\"";
            item.clear();
            if (*c == '\0')
                break;
        } else {
            item += *c;
        }
    }
    return "[" + list + "]";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s moduleinfo.json\n", argv[0]);
        return 2;
    }
    vst3::PluginFactory2* factory = veltrosa::vst3edge::factory();
    vst3::FactoryInfo info{};
    factory->getFactoryInfo(&info);
    const auto flag = [&](int32_t bit) { return (info.flags & bit) != 0 ? "true" : "false"; };
    std::string json =
        "{\n  \"Name\": \"" + std::string(veltrosa::kEffectName) + "\",\n  \"Version\": \"" VELTROSA_VERSION "\",\n";
    json += "  \"Factory Info\": {\n    \"Vendor\": \"" + std::string(info.vendor) + "\",\n    \"URL\": \"" + info.url +
            "\",\n    \"E-Mail\": \"" + info.email +
            "\",\n    \"Flags\": {\n      \"Unicode\": " + flag(vst3::kFactoryUnicode) +
            ",\n      \"Classes Discardable\": " + flag(vst3::kFactoryClassesDiscardable) +
            ",\n      \"Component Non Discardable\": " + flag(vst3::kFactoryComponentNonDiscardable) +
            "\n    }\n  },\n";
    json += "  \"Compatibility\": [],\n  \"Classes\": [";
    for (int32_t i = 0; i < factory->countClasses(); ++i) {
        vst3::ClassInfo2 c{};
        if (factory->getClassInfo2(i, &c) != vst3::kOk)
            return 1;
        json += std::string(i == 0 ? "\n" : ",\n") + "    {\n      \"CID\": \"" + hex(c.cid) + "\",\n      \"Category\": \"" +
                c.category + "\",\n      \"Name\": \"" + c.name + "\",\n      \"Vendor\": \"" + c.vendor +
                "\",\n      \"Version\": \"" + c.version + "\",\n      \"SDKVersion\": \"" + c.sdkVersion +
                "\",\n      \"Sub Categories\": " + subCategories(c.subCategories) +
                ",\n      \"Class Flags\": " + std::to_string(c.classFlags) +
                ",\n      \"Cardinality\": " + std::to_string(c.cardinality) + ",\n      \"Snapshots\": []\n    }";
    }
    json += "\n  ]\n}\n";
    std::FILE* out = std::fopen(argv[1], "w");
    if (out == nullptr)
        return 1;
    const bool ok = std::fputs(json.c_str(), out) >= 0;
    return std::fclose(out) == 0 && ok ? 0 : 1;
}
