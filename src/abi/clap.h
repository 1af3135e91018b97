// The CLAP binary interface as this project uses it: the entry, the plug-in
// factory, the plug-in and host records, processing and its events, and the
// extensions the instrument offers or asks for. Written from the published
// names, numbers and layouts (interface version 1.2); only what is used here.
// Every record is plain C layout; the calling convention is the platform's
// C one (cdecl on 32-bit Windows).
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define CLAPCALL __cdecl
#else
#define CLAPCALL
#endif

namespace clap {

using Id = uint32_t;
inline constexpr Id kInvalidId = UINT32_MAX;
inline constexpr std::size_t kNameSize = 256;
inline constexpr std::size_t kPathSize = 1024;

struct Version {
    uint32_t major;
    uint32_t minor;
    uint32_t revision;
};
inline constexpr Version kVersion{1, 2, 0};
// A host or plug-in of major version 1 or later speaks this interface.
constexpr bool compatible(const Version& v) { return v.major >= 1; }

struct Host;
struct Plugin;

// ---- entry and factories ----

struct PluginEntry {
    Version version;
    bool(CLAPCALL* init)(const char* pluginPath);
    void(CLAPCALL* deinit)();
    const void*(CLAPCALL* getFactory)(const char* factoryId);
};

inline constexpr const char* kPluginFactoryId = "clap.plugin-factory";

struct PluginDescriptor {
    Version version;
    const char* id;
    const char* name;
    const char* vendor;
    const char* url;
    const char* manualUrl;
    const char* supportUrl;
    const char* version2;  // the plug-in's own version text
    const char* description;
    const char* const* features;  // null-terminated
};

struct PluginFactory {
    uint32_t(CLAPCALL* getPluginCount)(const PluginFactory* factory);
    const PluginDescriptor*(CLAPCALL* getPluginDescriptor)(const PluginFactory* factory, uint32_t index);
    const Plugin*(CLAPCALL* createPlugin)(const PluginFactory* factory, const Host* host, const char* pluginId);
};

// ---- plug-in and host ----

struct Process;

struct Plugin {
    const PluginDescriptor* desc;
    void* pluginData;
    bool(CLAPCALL* init)(const Plugin* plugin);
    void(CLAPCALL* destroy)(const Plugin* plugin);
    bool(CLAPCALL* activate)(const Plugin* plugin, double sampleRate, uint32_t minFrames, uint32_t maxFrames);
    void(CLAPCALL* deactivate)(const Plugin* plugin);
    bool(CLAPCALL* startProcessing)(const Plugin* plugin);
    void(CLAPCALL* stopProcessing)(const Plugin* plugin);
    void(CLAPCALL* reset)(const Plugin* plugin);
    int32_t(CLAPCALL* process)(const Plugin* plugin, const Process* process);
    const void*(CLAPCALL* getExtension)(const Plugin* plugin, const char* id);
    void(CLAPCALL* onMainThread)(const Plugin* plugin);
};

struct Host {
    Version version;
    void* hostData;
    const char* name;
    const char* vendor;
    const char* url;
    const char* version2;
    const void*(CLAPCALL* getExtension)(const Host* host, const char* extensionId);
    void(CLAPCALL* requestRestart)(const Host* host);
    void(CLAPCALL* requestProcess)(const Host* host);
    void(CLAPCALL* requestCallback)(const Host* host);
};

// ---- events ----

inline constexpr uint16_t kCoreEventSpace = 0;

enum EventType : uint16_t {
    kEventNoteOn = 0,
    kEventNoteOff = 1,
    kEventNoteChoke = 2,
    kEventNoteEnd = 3,
    kEventNoteExpression = 4,
    kEventParamValue = 5,
    kEventParamMod = 6,
    kEventParamGestureBegin = 7,
    kEventParamGestureEnd = 8,
    kEventTransport = 9,
    kEventMidi = 10,
    kEventMidiSysex = 11,
    kEventMidi2 = 12,
};

inline constexpr uint32_t kEventIsLive = 1u << 0;

struct EventHeader {
    uint32_t size;  // of the whole event, header included
    uint32_t time;  // frames into the block
    uint16_t spaceId;
    uint16_t type;
    uint32_t flags;
};

struct EventNote {
    EventHeader header;
    int32_t noteId;  // -1: none
    int16_t portIndex;
    int16_t channel;  // -1: any
    int16_t key;      // -1: any
    double velocity;  // 0..1
};

struct EventParamValue {
    EventHeader header;
    Id paramId;
    void* cookie;
    int32_t noteId;
    int16_t portIndex;
    int16_t channel;
    int16_t key;
    double value;
};

struct EventParamGesture {
    EventHeader header;
    Id paramId;
};

struct EventMidi {
    EventHeader header;
    uint16_t portIndex;
    uint8_t data[3];
};

struct InputEvents {
    void* ctx;
    uint32_t(CLAPCALL* size)(const InputEvents* list);
    const EventHeader*(CLAPCALL* get)(const InputEvents* list, uint32_t index);
};

struct OutputEvents {
    void* ctx;
    bool(CLAPCALL* tryPush)(const OutputEvents* list, const EventHeader* event);
};

// ---- processing ----

struct AudioBuffer {
    float** data32;
    double** data64;
    uint32_t channelCount;
    uint32_t latency;
    uint64_t constantMask;
};

enum ProcessStatus : int32_t {
    kProcessError = 0,
    kProcessContinue = 1,
    kProcessContinueIfNotQuiet = 2,
    kProcessTail = 3,
    kProcessSleep = 4,
};

struct Process {
    int64_t steadyTime;
    uint32_t framesCount;
    const void* transport;  // not read
    const AudioBuffer* audioInputs;
    AudioBuffer* audioOutputs;
    uint32_t audioInputsCount;
    uint32_t audioOutputsCount;
    const InputEvents* inEvents;
    const OutputEvents* outEvents;
};

// ---- extensions ----

inline constexpr const char* kExtParams = "clap.params";
inline constexpr const char* kExtState = "clap.state";
inline constexpr const char* kExtAudioPorts = "clap.audio-ports";
inline constexpr const char* kExtNotePorts = "clap.note-ports";
inline constexpr const char* kExtVoiceInfo = "clap.voice-info";
inline constexpr const char* kExtRender = "clap.render";
inline constexpr const char* kExtThreadCheck = "clap.thread-check";
inline constexpr const char* kExtPresetLoad = "clap.preset-load/2";
inline constexpr const char* kExtPresetLoadCompat = "clap.preset-load.draft/2";

enum ParamFlags : uint32_t {
    kParamIsStepped = 1u << 0,
    kParamIsHidden = 1u << 2,
    kParamIsReadonly = 1u << 3,
    kParamIsAutomatable = 1u << 5,
};

struct ParamInfo {
    Id id;
    uint32_t flags;
    void* cookie;
    char name[kNameSize];
    char module[kPathSize];
    double minValue;
    double maxValue;
    double defaultValue;
};

struct PluginParams {
    uint32_t(CLAPCALL* count)(const Plugin* plugin);
    bool(CLAPCALL* getInfo)(const Plugin* plugin, uint32_t index, ParamInfo* info);
    bool(CLAPCALL* getValue)(const Plugin* plugin, Id paramId, double* value);
    bool(CLAPCALL* valueToText)(const Plugin* plugin, Id paramId, double value, char* text, uint32_t capacity);
    bool(CLAPCALL* textToValue)(const Plugin* plugin, Id paramId, const char* text, double* value);
    void(CLAPCALL* flush)(const Plugin* plugin, const InputEvents* in, const OutputEvents* out);
};

inline constexpr uint32_t kParamRescanValues = 1u << 0;

struct HostParams {
    void(CLAPCALL* rescan)(const Host* host, uint32_t flags);
    void(CLAPCALL* clear)(const Host* host, Id paramId, uint32_t flags);
    void(CLAPCALL* requestFlush)(const Host* host);
};

struct InStream {
    void* ctx;
    // Bytes read (0 at the end, negative on error).
    int64_t(CLAPCALL* read)(const InStream* stream, void* buffer, uint64_t size);
};

struct OutStream {
    void* ctx;
    // Bytes written (negative on error).
    int64_t(CLAPCALL* write)(const OutStream* stream, const void* buffer, uint64_t size);
};

struct PluginState {
    bool(CLAPCALL* save)(const Plugin* plugin, const OutStream* stream);
    bool(CLAPCALL* load)(const Plugin* plugin, const InStream* stream);
};

struct HostState {
    void(CLAPCALL* markDirty)(const Host* host);
};


inline constexpr const char* kPortStereo = "stereo";
inline constexpr uint32_t kAudioPortIsMain = 1u << 0;

struct AudioPortInfo {
    Id id;
    char name[kNameSize];
    uint32_t flags;
    uint32_t channelCount;
    const char* portType;
    Id inPlacePair;
};

struct PluginAudioPorts {
    uint32_t(CLAPCALL* count)(const Plugin* plugin, bool isInput);
    bool(CLAPCALL* get)(const Plugin* plugin, uint32_t index, bool isInput, AudioPortInfo* info);
};

enum NoteDialect : uint32_t {
    kDialectClap = 1u << 0,
    kDialectMidi = 1u << 1,
};

struct NotePortInfo {
    Id id;
    uint32_t supportedDialects;
    uint32_t preferredDialect;
    char name[kNameSize];
};

struct PluginNotePorts {
    uint32_t(CLAPCALL* count)(const Plugin* plugin, bool isInput);
    bool(CLAPCALL* get)(const Plugin* plugin, uint32_t index, bool isInput, NotePortInfo* info);
};

struct VoiceInfo {
    uint32_t voiceCount;
    uint32_t voiceCapacity;
    uint64_t flags;
};

struct PluginVoiceInfo {
    bool(CLAPCALL* get)(const Plugin* plugin, VoiceInfo* info);
};

enum RenderMode : int32_t { kRenderRealtime = 0, kRenderOffline = 1 };

struct PluginRender {
    bool(CLAPCALL* hasHardRealtimeRequirement)(const Plugin* plugin);
    bool(CLAPCALL* set)(const Plugin* plugin, int32_t mode);
};

struct HostThreadCheck {
    bool(CLAPCALL* isMainThread)(const Host* host);
    bool(CLAPCALL* isAudioThread)(const Host* host);
};

struct PluginPresetLoad {
    bool(CLAPCALL* fromLocation)(const Plugin* plugin, uint32_t locationKind, const char* location,
                                 const char* loadKey);
};

struct HostPresetLoad {
    void(CLAPCALL* onError)(const Host* host, uint32_t locationKind, const char* location, const char* loadKey,
                            int32_t osError, const char* message);
    void(CLAPCALL* loaded)(const Host* host, uint32_t locationKind, const char* location, const char* loadKey);
};

// ---- the editor ----

inline constexpr const char* kExtGui = "clap.gui";
inline constexpr const char* kExtPosixFdSupport = "clap.posix-fd-support";
inline constexpr const char* kExtTimerSupport = "clap.timer-support";
inline constexpr const char* kWindowApiX11 = "x11";
inline constexpr const char* kWindowApiWin32 = "win32";

struct Window {
    const char* api;
    union {
        unsigned long x11;  // an X11 Window id
        void* win32;        // an HWND
        void* ptr;
    };
};

struct GuiResizeHints;

struct PluginGui {
    bool(CLAPCALL* isApiSupported)(const Plugin* plugin, const char* api, bool isFloating);
    bool(CLAPCALL* getPreferredApi)(const Plugin* plugin, const char** api, bool* isFloating);
    bool(CLAPCALL* create)(const Plugin* plugin, const char* api, bool isFloating);
    void(CLAPCALL* destroy)(const Plugin* plugin);
    bool(CLAPCALL* setScale)(const Plugin* plugin, double scale);
    bool(CLAPCALL* getSize)(const Plugin* plugin, uint32_t* width, uint32_t* height);
    bool(CLAPCALL* canResize)(const Plugin* plugin);
    bool(CLAPCALL* getResizeHints)(const Plugin* plugin, GuiResizeHints* hints);
    bool(CLAPCALL* adjustSize)(const Plugin* plugin, uint32_t* width, uint32_t* height);
    bool(CLAPCALL* setSize)(const Plugin* plugin, uint32_t width, uint32_t height);
    bool(CLAPCALL* setParent)(const Plugin* plugin, const Window* window);
    bool(CLAPCALL* setTransient)(const Plugin* plugin, const Window* window);
    void(CLAPCALL* suggestTitle)(const Plugin* plugin, const char* title);
    bool(CLAPCALL* show)(const Plugin* plugin);
    bool(CLAPCALL* hide)(const Plugin* plugin);
};

enum PosixFdFlags : uint32_t { kFdRead = 1u << 0, kFdWrite = 1u << 1, kFdError = 1u << 2 };

struct PluginPosixFdSupport {
    void(CLAPCALL* onFd)(const Plugin* plugin, int fd, uint32_t flags);
};

struct HostPosixFdSupport {
    bool(CLAPCALL* registerFd)(const Host* host, int fd, uint32_t flags);
    bool(CLAPCALL* modifyFd)(const Host* host, int fd, uint32_t flags);
    bool(CLAPCALL* unregisterFd)(const Host* host, int fd);
};

struct PluginTimerSupport {
    void(CLAPCALL* onTimer)(const Plugin* plugin, Id timerId);
};

struct HostTimerSupport {
    bool(CLAPCALL* registerTimer)(const Host* host, uint32_t periodMs, Id* timerId);
    bool(CLAPCALL* unregisterTimer)(const Host* host, Id timerId);
};

// ---- preset discovery ----

inline constexpr const char* kPresetDiscoveryFactoryId = "clap.preset-discovery-factory/2";
inline constexpr const char* kPresetDiscoveryFactoryIdCompat = "clap.preset-discovery-factory/draft-2";

enum PresetLocationKind : uint32_t { kLocationFile = 0, kLocationPlugin = 1 };
inline constexpr uint32_t kPresetIsFactoryContent = 1u << 0;

struct UniversalPluginId {
    const char* abi;  // "clap"
    const char* id;
};

struct MetadataReceiver {
    void* receiverData;
    void(CLAPCALL* onError)(const MetadataReceiver* receiver, int32_t osError, const char* message);
    bool(CLAPCALL* beginPreset)(const MetadataReceiver* receiver, const char* name, const char* loadKey);
    void(CLAPCALL* addPluginId)(const MetadataReceiver* receiver, const UniversalPluginId* pluginId);
    void(CLAPCALL* setSoundpackId)(const MetadataReceiver* receiver, const char* soundpackId);
    void(CLAPCALL* setFlags)(const MetadataReceiver* receiver, uint32_t flags);
    void(CLAPCALL* addCreator)(const MetadataReceiver* receiver, const char* creator);
    void(CLAPCALL* setDescription)(const MetadataReceiver* receiver, const char* description);
    void(CLAPCALL* setTimestamps)(const MetadataReceiver* receiver, uint64_t created, uint64_t modified);
    void(CLAPCALL* addFeature)(const MetadataReceiver* receiver, const char* feature);
    void(CLAPCALL* addExtraInfo)(const MetadataReceiver* receiver, const char* key, const char* value);
};

struct PresetFiletype {
    const char* name;
    const char* description;
    const char* fileExtension;
};

struct PresetLocation {
    uint32_t flags;
    const char* name;
    uint32_t kind;
    const char* location;  // null for presets inside the plug-in
};

struct PresetSoundpack;

struct PresetProviderDescriptor {
    Version version;
    const char* id;
    const char* name;
    const char* vendor;
};

struct PresetProvider {
    const PresetProviderDescriptor* desc;
    void* providerData;
    bool(CLAPCALL* init)(const PresetProvider* provider);
    void(CLAPCALL* destroy)(const PresetProvider* provider);
    bool(CLAPCALL* getMetadata)(const PresetProvider* provider, uint32_t locationKind, const char* location,
                                const MetadataReceiver* receiver);
    const void*(CLAPCALL* getExtension)(const PresetProvider* provider, const char* extensionId);
};

struct PresetIndexer {
    Version version;
    const char* name;
    const char* vendor;
    const char* url;
    const char* version2;
    void* indexerData;
    bool(CLAPCALL* declareFiletype)(const PresetIndexer* indexer, const PresetFiletype* filetype);
    bool(CLAPCALL* declareLocation)(const PresetIndexer* indexer, const PresetLocation* location);
    bool(CLAPCALL* declareSoundpack)(const PresetIndexer* indexer, const PresetSoundpack* soundpack);
    const void*(CLAPCALL* getExtension)(const PresetIndexer* indexer, const char* extensionId);
};

struct PresetDiscoveryFactory {
    uint32_t(CLAPCALL* count)(const PresetDiscoveryFactory* factory);
    const PresetProviderDescriptor*(CLAPCALL* getDescriptor)(const PresetDiscoveryFactory* factory, uint32_t index);
    const PresetProvider*(CLAPCALL* create)(const PresetDiscoveryFactory* factory, const PresetIndexer* indexer,
                                            const char* providerId);
};

// Layouts hosts and plug-ins agree on, on 32- and 64-bit builds alike.
static_assert(sizeof(Version) == 12);
static_assert(sizeof(Window) == 2 * sizeof(void*));
static_assert(sizeof(EventHeader) == 16);
static_assert(offsetof(EventNote, velocity) == 32 && sizeof(EventNote) == 40);
static_assert(sizeof(EventMidi) == 24);
static_assert(sizeof(void*) != 8 || (offsetof(EventParamValue, value) == 48 && sizeof(EventParamValue) == 56));
static_assert(offsetof(ParamInfo, name) == 8 + sizeof(void*));
static_assert(offsetof(Plugin, init) == 2 * sizeof(void*) && sizeof(Plugin) == 12 * sizeof(void*));
static_assert(offsetof(Host, getExtension) == 12 + 4 * sizeof(void*) + (sizeof(void*) == 8 ? 4 : 0) + sizeof(void*));

}  // namespace clap
