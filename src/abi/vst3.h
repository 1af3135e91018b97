// The VST 3 binary interface as this project uses it: interface IDs, the
// order of each interface's virtual functions, struct layouts and constants,
// written from the format's public interface headers. Only what the
// instrument and the test host need.
//
// Interfaces are abstract classes with no virtual destructor, so a class
// deriving from one in a single line has the vtable hosts expect (calls are
// plain C++ member calls; on 32-bit Windows they would be stdcall, a build
// this project does not make).
#pragma once

#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define VST3CALL __stdcall
#else
#define VST3CALL
#endif

namespace vst3 {

using Result = int32_t;
using Uid = char[16];
using ParamId = uint32_t;
using Char16 = char16_t;
using String128 = Char16[128];

// Result codes: COM's values on Windows, small numbers elsewhere.
#if defined(_WIN32)
inline constexpr Result kNoInterface = static_cast<Result>(0x80004002L);
inline constexpr Result kOk = 0;
inline constexpr Result kFalse = 1;
inline constexpr Result kInvalidArgument = static_cast<Result>(0x80070057L);
inline constexpr Result kNotImplemented = static_cast<Result>(0x80004001L);
inline constexpr Result kInternalError = static_cast<Result>(0x80004005L);
inline constexpr Result kNotInitialized = static_cast<Result>(0x8000FFFFL);
inline constexpr Result kOutOfMemory = static_cast<Result>(0x8007000EL);
#else
inline constexpr Result kNoInterface = -1;
inline constexpr Result kOk = 0;
inline constexpr Result kFalse = 1;
inline constexpr Result kInvalidArgument = 2;
inline constexpr Result kNotImplemented = 3;
inline constexpr Result kInternalError = 4;
inline constexpr Result kNotInitialized = 5;
inline constexpr Result kOutOfMemory = 6;
#endif

// An ID given as four 32-bit words is stored in the byte order of COM's GUID
// on Windows (first word and the two halves of the second little-endian),
// and word by word big-endian elsewhere.
struct Guid {
    char bytes[16];
};

constexpr Guid makeUid(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    Guid g{};
    const auto put = [&g](int at, uint32_t word, int shift) { g.bytes[at] = static_cast<char>((word >> shift) & 0xFF); };
#if defined(_WIN32)
    put(0, a, 0), put(1, a, 8), put(2, a, 16), put(3, a, 24);
    put(4, b, 16), put(5, b, 24), put(6, b, 0), put(7, b, 8);
#else
    put(0, a, 24), put(1, a, 16), put(2, a, 8), put(3, a, 0);
    put(4, b, 24), put(5, b, 16), put(6, b, 8), put(7, b, 0);
#endif
    put(8, c, 24), put(9, c, 16), put(10, c, 8), put(11, c, 0);
    put(12, d, 24), put(13, d, 16), put(14, d, 8), put(15, d, 0);
    return g;
}

inline constexpr Guid kIidUnknown = makeUid(0x00000000, 0x00000000, 0xC0000000, 0x00000046);
inline constexpr Guid kIidPluginBase = makeUid(0x22888DDB, 0x156E45AE, 0x8358B348, 0x08190625);
inline constexpr Guid kIidPluginFactory = makeUid(0x7A4D811C, 0x52114A1F, 0xAED9D2EE, 0x0B43BF9F);
inline constexpr Guid kIidPluginFactory2 = makeUid(0x0007B650, 0xF24B4C0B, 0xA464EDB9, 0xF00B2ABB);
inline constexpr Guid kIidStream = makeUid(0xC3BF6EA2, 0x30994752, 0x9B6BF990, 0x1EE33E9B);
inline constexpr Guid kIidComponent = makeUid(0xE831FF31, 0xF2D54301, 0x928EBBEE, 0x25697802);
inline constexpr Guid kIidAudioProcessor = makeUid(0x42043F99, 0xB7DA453C, 0xA569E79D, 0x9AAEC33D);
inline constexpr Guid kIidProcessContextRequirements =
    makeUid(0x2A654303, 0xEF764E3D, 0x95B5FE83, 0x730EF6D0);
inline constexpr Guid kIidEditController = makeUid(0xDCD7BBE3, 0x7742448D, 0xA874AACC, 0x979C759E);
inline constexpr Guid kIidComponentHandler = makeUid(0x93A0BEA3, 0x0BD045DB, 0x8E890B0C, 0xC1E46AC6);
inline constexpr Guid kIidEventList = makeUid(0x3A2C4214, 0x346349FE, 0xB2C4F397, 0xB9695A44);
inline constexpr Guid kIidParamValueQueue = makeUid(0x01263A18, 0xED074F6F, 0x98C9D356, 0x4686F9BA);
inline constexpr Guid kIidParameterChanges = makeUid(0xA4779663, 0x0BB64A56, 0xB44384A8, 0x466FEB9D);
inline constexpr Guid kIidPlugView = makeUid(0x5BC32507, 0xD06049EA, 0xA6151B52, 0x2B755B29);
inline constexpr Guid kIidPlugFrame = makeUid(0x367FAF01, 0xAFA94693, 0x8D4DA2A0, 0xED0882A3);
inline constexpr Guid kIidContentScaleSupport = makeUid(0x65ED9690, 0x8AC44525, 0x8AADEF7A, 0x72EA703F);
inline constexpr Guid kIidEventHandler = makeUid(0x561E65C9, 0x13A0496F, 0x813A2C35, 0x654D7983);
inline constexpr Guid kIidTimerHandler = makeUid(0x10BDD94F, 0x41424774, 0x821FAD8F, 0xECA72CA9);
inline constexpr Guid kIidRunLoop = makeUid(0x18C35366, 0x97764F1A, 0x9C5B8385, 0x7A871389);
inline constexpr Guid kIidConnectionPoint = makeUid(0x70A4156F, 0x6E6E4026, 0x989148BF, 0xAA60D8D1);
inline constexpr Guid kIidUnitInfo = makeUid(0x3D4BD6B5, 0x913A4FD2, 0xA886E768, 0xA5EB92C1);

// The interface version string a class reports (the interfaces implemented
// here are all in that release).
inline constexpr const char* kSdkVersion = "VST 3.7.14";

class Unknown {
public:
    // Released, never deleted, through an interface.
protected:
    ~Unknown() = default;

public:
    virtual Result VST3CALL queryInterface(const char* iid, void** object) = 0;
    virtual uint32_t VST3CALL addRef() = 0;
    virtual uint32_t VST3CALL release() = 0;
};

class PluginBase : public Unknown {
public:
protected:
    ~PluginBase() = default;

public:
    virtual Result VST3CALL initialize(Unknown* context) = 0;
    virtual Result VST3CALL terminate() = 0;
};

struct FactoryInfo {
    char vendor[64];
    char url[256];
    char email[128];
    int32_t flags;
};
inline constexpr int32_t kFactoryClassesDiscardable = 1 << 0;
inline constexpr int32_t kFactoryComponentNonDiscardable = 1 << 3;
inline constexpr int32_t kFactoryUnicode = 1 << 4;

inline constexpr int32_t kManyInstances = 0x7FFFFFFF;

struct ClassInfo {
    char cid[16];
    int32_t cardinality;
    char category[32];
    char name[64];
};

struct ClassInfo2 {
    char cid[16];
    int32_t cardinality;
    char category[32];
    char name[64];
    uint32_t classFlags;
    char subCategories[128];
    char vendor[64];
    char version[64];
    char sdkVersion[64];
};

class PluginFactory : public Unknown {
public:
protected:
    ~PluginFactory() = default;

public:
    virtual Result VST3CALL getFactoryInfo(FactoryInfo* info) = 0;
    virtual int32_t VST3CALL countClasses() = 0;
    virtual Result VST3CALL getClassInfo(int32_t index, ClassInfo* info) = 0;
    virtual Result VST3CALL createInstance(const char* cid, const char* iid, void** object) = 0;
};

class PluginFactory2 : public PluginFactory {
public:
protected:
    ~PluginFactory2() = default;

public:
    virtual Result VST3CALL getClassInfo2(int32_t index, ClassInfo2* info) = 0;
};

inline constexpr const char* kCategoryAudioEffect = "Audio Module Class";
inline constexpr const char* kCategoryController = "Component Controller Class";
inline constexpr uint32_t kDistributable = 1 << 0;

enum SeekMode : int32_t { kSeekSet = 0, kSeekCur, kSeekEnd };

class Stream : public Unknown {
public:
protected:
    ~Stream() = default;

public:
    virtual Result VST3CALL read(void* buffer, int32_t bytes, int32_t* bytesRead) = 0;
    virtual Result VST3CALL write(void* buffer, int32_t bytes, int32_t* bytesWritten) = 0;
    virtual Result VST3CALL seek(int64_t position, int32_t mode, int64_t* result) = 0;
    virtual Result VST3CALL tell(int64_t* position) = 0;
};

enum MediaType : int32_t { kAudio = 0, kEvent = 1 };
enum BusDirection : int32_t { kInput = 0, kOutput = 1 };
enum BusType : int32_t { kMain = 0, kAux = 1 };
inline constexpr uint32_t kBusDefaultActive = 1 << 0;

struct BusInfo {
    int32_t mediaType;
    int32_t direction;
    int32_t channelCount;
    String128 name;
    int32_t busType;
    uint32_t flags;
};

struct RoutingInfo {
    int32_t mediaType;
    int32_t busIndex;
    int32_t channel;
};

class Component : public PluginBase {
public:
protected:
    ~Component() = default;

public:
    virtual Result VST3CALL getControllerClassId(char* classId) = 0;
    virtual Result VST3CALL setIoMode(int32_t mode) = 0;
    virtual int32_t VST3CALL getBusCount(int32_t type, int32_t direction) = 0;
    virtual Result VST3CALL getBusInfo(int32_t type, int32_t direction, int32_t index, BusInfo& info) = 0;
    virtual Result VST3CALL getRoutingInfo(RoutingInfo& in, RoutingInfo& out) = 0;
    virtual Result VST3CALL activateBus(int32_t type, int32_t direction, int32_t index, uint8_t state) = 0;
    virtual Result VST3CALL setActive(uint8_t state) = 0;
    virtual Result VST3CALL setState(Stream* state) = 0;
    virtual Result VST3CALL getState(Stream* state) = 0;
};

using SpeakerArrangement = uint64_t;
inline constexpr SpeakerArrangement kStereo = 0x3;  // left and right

enum SampleSize : int32_t { kSample32 = 0, kSample64 = 1 };
enum ProcessMode : int32_t { kRealtime = 0, kPrefetch = 1, kOffline = 2 };
// getTailSamples: the sound never ends of itself.
inline constexpr uint32_t kInfiniteTail = 0xFFFFFFFFu;

struct ProcessSetup {
    int32_t processMode;
    int32_t symbolicSampleSize;
    int32_t maxSamplesPerBlock;
    double sampleRate;
};

struct AudioBusBuffers {
    int32_t numChannels;
    uint64_t silenceFlags;
    union {
        float** channelBuffers32;
        double** channelBuffers64;
    };
};

class ParamValueQueue : public Unknown {
public:
protected:
    ~ParamValueQueue() = default;

public:
    virtual ParamId VST3CALL getParameterId() = 0;
    virtual int32_t VST3CALL getPointCount() = 0;
    virtual Result VST3CALL getPoint(int32_t index, int32_t& sampleOffset, double& value) = 0;
    virtual Result VST3CALL addPoint(int32_t sampleOffset, double value, int32_t& index) = 0;
};

class ParameterChanges : public Unknown {
public:
protected:
    ~ParameterChanges() = default;

public:
    virtual int32_t VST3CALL getParameterCount() = 0;
    virtual ParamValueQueue* VST3CALL getParameterData(int32_t index) = 0;
    virtual ParamValueQueue* VST3CALL addParameterData(const ParamId& id, int32_t& index) = 0;
};

struct NoteOnEvent {
    int16_t channel;
    int16_t pitch;
    float tuning;
    float velocity;
    int32_t length;
    int32_t noteId;
};

struct NoteOffEvent {
    int16_t channel;
    int16_t pitch;
    float velocity;
    int32_t noteId;
    float tuning;
};

// The largest member of the event union (a note expression's text), which
// sets its size and alignment; its fields are not read here.
struct LargestEventBody {
    uint32_t typeId;
    int32_t noteId;
    uint32_t textLength;
    const Char16* text;
};

enum EventType : uint16_t { kNoteOnEvent = 0, kNoteOffEvent = 1 };

struct Event {
    int32_t busIndex;
    int32_t sampleOffset;
    double ppqPosition;
    uint16_t flags;
    uint16_t type;
    union {
        NoteOnEvent noteOn;
        NoteOffEvent noteOff;
        LargestEventBody largest;
    };
};

class EventList : public Unknown {
public:
protected:
    ~EventList() = default;

public:
    virtual int32_t VST3CALL getEventCount() = 0;
    virtual Result VST3CALL getEvent(int32_t index, Event& event) = 0;
    virtual Result VST3CALL addEvent(Event& event) = 0;
};

struct ProcessContext;  // not read

struct ProcessData {
    int32_t processMode;
    int32_t symbolicSampleSize;
    int32_t numSamples;
    int32_t numInputs;
    int32_t numOutputs;
    AudioBusBuffers* inputs;
    AudioBusBuffers* outputs;
    ParameterChanges* inputParameterChanges;
    ParameterChanges* outputParameterChanges;
    EventList* inputEvents;
    EventList* outputEvents;
    ProcessContext* processContext;
};

class AudioProcessor : public Unknown {
public:
protected:
    ~AudioProcessor() = default;

public:
    virtual Result VST3CALL setBusArrangements(SpeakerArrangement* inputs, int32_t numIns, SpeakerArrangement* outputs,
                                               int32_t numOuts) = 0;
    virtual Result VST3CALL getBusArrangement(int32_t direction, int32_t index, SpeakerArrangement& arrangement) = 0;
    virtual Result VST3CALL canProcessSampleSize(int32_t symbolicSampleSize) = 0;
    virtual uint32_t VST3CALL getLatencySamples() = 0;
    virtual Result VST3CALL setupProcessing(ProcessSetup& setup) = 0;
    virtual Result VST3CALL setProcessing(uint8_t state) = 0;
    virtual Result VST3CALL process(ProcessData& data) = 0;
    virtual uint32_t VST3CALL getTailSamples() = 0;
};

// Which parts of ProcessContext the processor reads (a mask of flags; 0:
// none), asked once before processing starts.
class ProcessContextRequirements : public Unknown {
public:
    virtual uint32_t VST3CALL getProcessContextRequirements() = 0;

protected:
    ~ProcessContextRequirements() = default;
};

inline constexpr int32_t kRootUnit = 0;

enum ParameterFlag : int32_t {
    kCanAutomate = 1 << 0,
    kIsReadOnly = 1 << 1,
    kIsWrapAround = 1 << 2,
    kIsList = 1 << 3,
    kIsHidden = 1 << 4,
    kIsProgramChange = 1 << 15,
};

struct ParameterInfo {
    ParamId id;
    String128 title;
    String128 shortTitle;
    String128 units;
    int32_t stepCount;
    double defaultNormalizedValue;
    int32_t unitId;
    int32_t flags;
};

class ComponentHandler : public Unknown {
public:
protected:
    ~ComponentHandler() = default;

public:
    virtual Result VST3CALL beginEdit(ParamId id) = 0;
    virtual Result VST3CALL performEdit(ParamId id, double valueNormalized) = 0;
    virtual Result VST3CALL endEdit(ParamId id) = 0;
    virtual Result VST3CALL restartComponent(int32_t flags) = 0;
};
inline constexpr int32_t kParamValuesChanged = 1 << 2;

struct ViewRect {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};

// What attached's parent is: an X11 window id (the host's window, XEmbed),
// or a Windows HWND.
inline constexpr const char* kPlatformX11 = "X11EmbedWindowID";
inline constexpr const char* kPlatformHwnd = "HWND";

class PlugFrame;

class PlugView : public Unknown {
public:
protected:
    ~PlugView() = default;

public:
    virtual Result VST3CALL isPlatformTypeSupported(const char* type) = 0;
    virtual Result VST3CALL attached(void* parent, const char* type) = 0;
    virtual Result VST3CALL removed() = 0;
    virtual Result VST3CALL onWheel(float distance) = 0;
    virtual Result VST3CALL onKeyDown(Char16 key, int16_t keyCode, int16_t modifiers) = 0;
    virtual Result VST3CALL onKeyUp(Char16 key, int16_t keyCode, int16_t modifiers) = 0;
    virtual Result VST3CALL getSize(ViewRect* size) = 0;
    virtual Result VST3CALL onSize(ViewRect* newSize) = 0;
    virtual Result VST3CALL onFocus(uint8_t state) = 0;
    virtual Result VST3CALL setFrame(PlugFrame* frame) = 0;
    virtual Result VST3CALL canResize() = 0;
    virtual Result VST3CALL checkSizeConstraint(ViewRect* rect) = 0;
};

// The host's side of a view; on Linux it also answers RunLoop.
class PlugFrame : public Unknown {
public:
protected:
    ~PlugFrame() = default;

public:
    // The host then calls the view's onSize.
    virtual Result VST3CALL resizeView(PlugView* view, ViewRect* newSize) = 0;
};

class ContentScaleSupport : public Unknown {
public:
protected:
    ~ContentScaleSupport() = default;

public:
    virtual Result VST3CALL setContentScaleFactor(float factor) = 0;
};

// Linux, where there is no common event loop: the host watches descriptors
// and runs timers for the plug-in, on its user-interface thread.
class EventHandler : public Unknown {
public:
protected:
    ~EventHandler() = default;

public:
    virtual void VST3CALL onFDIsSet(int fd) = 0;
};

class TimerHandler : public Unknown {
public:
protected:
    ~TimerHandler() = default;

public:
    virtual void VST3CALL onTimer() = 0;
};

class RunLoop : public Unknown {
public:
protected:
    ~RunLoop() = default;

public:
    virtual Result VST3CALL registerEventHandler(EventHandler* handler, int fd) = 0;
    virtual Result VST3CALL unregisterEventHandler(EventHandler* handler) = 0;
    virtual Result VST3CALL registerTimer(TimerHandler* handler, uint64_t milliseconds) = 0;
    virtual Result VST3CALL unregisterTimer(TimerHandler* handler) = 0;
};

// The name createView is asked for the plug-in's own editor.
inline constexpr const char* kViewEditor = "editor";

class EditController : public PluginBase {
public:
protected:
    ~EditController() = default;

public:
    virtual Result VST3CALL setComponentState(Stream* state) = 0;
    virtual Result VST3CALL setState(Stream* state) = 0;
    virtual Result VST3CALL getState(Stream* state) = 0;
    virtual int32_t VST3CALL getParameterCount() = 0;
    virtual Result VST3CALL getParameterInfo(int32_t index, ParameterInfo& info) = 0;
    virtual Result VST3CALL getParamStringByValue(ParamId id, double valueNormalized, String128 string) = 0;
    virtual Result VST3CALL getParamValueByString(ParamId id, Char16* string, double& valueNormalized) = 0;
    virtual double VST3CALL normalizedParamToPlain(ParamId id, double valueNormalized) = 0;
    virtual double VST3CALL plainParamToNormalized(ParamId id, double plainValue) = 0;
    virtual double VST3CALL getParamNormalized(ParamId id) = 0;
    virtual Result VST3CALL setParamNormalized(ParamId id, double value) = 0;
    virtual Result VST3CALL setComponentHandler(ComponentHandler* handler) = 0;
    virtual PlugView* VST3CALL createView(const char* name) = 0;
};

// The component and the controller may tell each other things through
// these, once the host connected them. Messages are not read here.
class ConnectionPoint : public Unknown {
public:
protected:
    ~ConnectionPoint() = default;

public:
    virtual Result VST3CALL connect(ConnectionPoint* other) = 0;
    virtual Result VST3CALL disconnect(ConnectionPoint* other) = 0;
    virtual Result VST3CALL notify(Unknown* message) = 0;
};

inline constexpr int32_t kNoParentUnitId = -1;
inline constexpr int32_t kNoProgramListId = -1;

struct UnitInfo {
    int32_t id;
    int32_t parentUnitId;
    String128 name;
    int32_t programListId;
};

struct ProgramListInfo {
    int32_t id;
    String128 name;
    int32_t programCount;
};

// The controller's units and their program lists.
class UnitInfoSource : public Unknown {
public:
protected:
    ~UnitInfoSource() = default;

public:
    virtual int32_t VST3CALL getUnitCount() = 0;
    virtual Result VST3CALL getUnitInfo(int32_t unitIndex, UnitInfo& info) = 0;
    virtual int32_t VST3CALL getProgramListCount() = 0;
    virtual Result VST3CALL getProgramListInfo(int32_t listIndex, ProgramListInfo& info) = 0;
    virtual Result VST3CALL getProgramName(int32_t listId, int32_t programIndex, String128 name) = 0;
    virtual Result VST3CALL getProgramInfo(int32_t listId, int32_t programIndex, const char* attributeId,
                                           String128 attributeValue) = 0;
    virtual Result VST3CALL hasProgramPitchNames(int32_t listId, int32_t programIndex) = 0;
    virtual Result VST3CALL getProgramPitchName(int32_t listId, int32_t programIndex, int16_t midiPitch,
                                                String128 name) = 0;
    virtual int32_t VST3CALL getSelectedUnit() = 0;
    virtual Result VST3CALL selectUnit(int32_t unitId) = 0;
    virtual Result VST3CALL getUnitByBus(int32_t type, int32_t direction, int32_t busIndex, int32_t channel,
                                         int32_t& unitId) = 0;
    virtual Result VST3CALL setUnitProgramData(int32_t listOrUnitId, int32_t programIndex, Stream* data) = 0;
};

#if defined(__x86_64__) || defined(_WIN64)
// Sizes of the 64-bit layouts, as the format's headers give them.
static_assert(sizeof(FactoryInfo) == 452);
static_assert(sizeof(ClassInfo2) == 440);
static_assert(sizeof(BusInfo) == 276);
static_assert(sizeof(ProcessSetup) == 24);
static_assert(sizeof(AudioBusBuffers) == 24);
static_assert(sizeof(Event) == 48);
static_assert(sizeof(ProcessData) == 80);
static_assert(sizeof(ParameterInfo) == 792);
static_assert(sizeof(UnitInfo) == 268);
static_assert(sizeof(ProgramListInfo) == 264);
#endif

}  // namespace vst3
