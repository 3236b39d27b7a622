/* A host written in C, as one built with another compiler would use the module: it loads
 * quillon.dll, and calls the driver and its video capture object through explicit vtable slot
 * numbers in Microsoft's layout (slot 0 the scalar deleting destructor, then the entries in the
 * order of include/quillon/). Its own objects are C structs whose first member points to a table
 * of functions in the same layout. It opens the driver for an MJPEG camera, starts channel 0,
 * waits (bounded) for pictures, stops, closes and deletes the driver.
 *
 *   MsvcLayoutHost <quillon.dll> <camera port> [--shift N]
 *
 * --shift N puts N extra slots in front of every table of the host's objects, as a compiler with
 * another destructor layout would. Every function checks the type tag of the object it was
 * called on, so a call that lands in the wrong slot is caught: the program then prints
 * "layout mismatch" and exits with 3. Exit 0: pictures arrived; 1: they did not; 2: bad use. */
#include <windows.h>

#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef void (*Slot)(void);

/* Every host object: the table pointer, then a tag naming its type. */
typedef struct HostObject {
    const Slot* vtable;
    uint32_t tag;
} HostObject;

enum {
    kTagReceiver = 0x51000001, kTagAllocator, kTagSample, kTagSink, kTagConfig, kTagCamera,
    kTagConnection, kTagSettings, kTagFormat, kTagResolution, kTagRate
};

static void Mismatch(const char* what) {
    fprintf(stderr, "layout mismatch: %s\n", what);
    fflush(stderr);
    ExitProcess(3);
}

#define EXPECT_TAG(self, expected, what) \
    do { if (!(self) || ((const HostObject*)(self))->tag != (expected)) Mismatch(what); } while (0)

/* Slot 0 of a host object: the driver never deletes the host's objects. */
static void* HostDestructor(void* self, unsigned flags) {
    (void)self;
    (void)flags;
    Mismatch("the destructor slot of a host object was called");
    return NULL;
}

static void Unused(void* self) {
    (void)self;
    Mismatch("an unused slot was called");
}

/* ---- debug receiver: slot 1 PostDebugInfo(CDebugInfoIf*) ---- */
typedef struct DebugRecord { void* const* vtable; } DebugRecord;
static volatile LONG g_debugLines;

static void HostPostDebugInfo(void* self, DebugRecord* info) {
    EXPECT_TAG(self, kTagReceiver, "PostDebugInfo");
    if (!info) return;
    /* The module's record, called through its own slots: 1 GetLevel, 2 GetText. */
    uint8_t (*getLevel)(DebugRecord*) = (uint8_t (*)(DebugRecord*))info->vtable[1];
    const char* (*getText)(DebugRecord*) = (const char* (*)(DebugRecord*))info->vtable[2];
    const char* text = getText(info);
    printf("[driver level %u] %s\n", (unsigned)getLevel(info), text ? text : "");
    InterlockedIncrement(&g_debugLines);
}

/* ---- media sample: 2 GetData, 3 GetSize, 4 SetSize, 5 Commit, 10 SetFormat, 12 SetHeight,
 *      14 SetWidth, 16 SetSizeClass ---- */
typedef struct Sample {
    HostObject base;
    uint8_t* data;
    uint32_t capacity, size, format, width, height;
    int committed;
} Sample;

static uint8_t* SampleGetData(Sample* s) { EXPECT_TAG(s, kTagSample, "GetData"); return s->data; }
static uint32_t SampleGetSize(Sample* s) { EXPECT_TAG(s, kTagSample, "GetSize"); return s->capacity; }
static void SampleSetSize(Sample* s, uint32_t size) {
    EXPECT_TAG(s, kTagSample, "SetSize");
    if (size > s->capacity) Mismatch("SetSize beyond the allocated size");
    s->size = size;
}
static void SampleCommit(Sample* s) { EXPECT_TAG(s, kTagSample, "Commit"); s->committed = 1; }
static void SampleSetFormat(Sample* s, uint32_t v) { EXPECT_TAG(s, kTagSample, "SetFormat"); s->format = v; }
static void SampleSetHeight(Sample* s, uint32_t v) { EXPECT_TAG(s, kTagSample, "SetHeight"); s->height = v; }
static void SampleSetWidth(Sample* s, uint32_t v) { EXPECT_TAG(s, kTagSample, "SetWidth"); s->width = v; }
static void SampleSetSizeClass(Sample* s, uint32_t v) { EXPECT_TAG(s, kTagSample, "SetSizeClass"); (void)v; }

static const Slot kSampleSlots[] = {
    (Slot)HostDestructor, (Slot)Unused, (Slot)SampleGetData, (Slot)SampleGetSize, (Slot)SampleSetSize,
    (Slot)SampleCommit, (Slot)Unused, (Slot)Unused, (Slot)Unused, (Slot)Unused, (Slot)SampleSetFormat,
    (Slot)Unused, (Slot)SampleSetHeight, (Slot)Unused, (Slot)SampleSetWidth, (Slot)Unused,
    (Slot)SampleSetSizeClass,
};

/* ---- allocator: 2 AllocateSample(format, size, source), 6 ReleaseSample ---- */
static const Slot* g_sampleTable;

static Sample* HostAllocateSample(void* self, uint32_t format, uint32_t size, const char* source) {
    EXPECT_TAG(self, kTagAllocator, "AllocateSample");
    (void)source;
    Sample* s = (Sample*)calloc(1, sizeof(Sample));
    if (!s) return NULL;
    s->data = (uint8_t*)malloc(size ? size : 1);
    if (!s->data) {
        free(s);
        return NULL;
    }
    s->base.vtable = g_sampleTable;
    s->base.tag = kTagSample;
    s->capacity = size;
    s->format = format;
    return s;
}

static void HostReleaseSample(void* self, Sample* s) {
    EXPECT_TAG(self, kTagAllocator, "ReleaseSample");
    if (!s) return;
    EXPECT_TAG(s, kTagSample, "ReleaseSample's sample");
    free(s->data);
    free(s);
}

/* ---- video sink: 1 DeliverSample(sample) -> bool, 3 OnSignalLost ---- */
static HANDLE g_picturesEvent;
static volatile LONG g_pictures;
static volatile LONG g_badPictures;
static const LONG kPicturesWanted = 3;

static BOOL IsJpeg(const Sample* s) {
    /* "JPEG" as a little-endian number; SOI at the start, EOI at the end. */
    return s->format == 0x4745504A && s->size >= 4 && s->data[0] == 0xFF && s->data[1] == 0xD8 &&
           s->data[s->size - 2] == 0xFF && s->data[s->size - 1] == 0xD9 && s->width > 0 && s->height > 0;
}

static bool HostDeliverSample(void* self, Sample* s) {
    EXPECT_TAG(self, kTagSink, "DeliverSample");
    EXPECT_TAG(s, kTagSample, "DeliverSample's sample");
    if (!IsJpeg(s) || !s->committed) {
        InterlockedIncrement(&g_badPictures);
        return true;
    }
    if (InterlockedIncrement(&g_pictures) == kPicturesWanted) SetEvent(g_picturesEvent);
    return true;
}

static void HostOnSignalLost(void* self) { EXPECT_TAG(self, kTagSink, "OnSignalLost"); }

/* ---- configuration: IDriverConfig 1 GetCameraInfo, 2 GetConnectionInfo, 4 GetParameter;
 *      ICameraInfo 2 GetModel, 3 GetChannelCount, 5 GetInputCount, 6 GetOutputCount;
 *      IConnectionInfo 1 GetAddress, 2 GetPort, 4 GetStreamType, 5 GetUserName, 6 GetPassword ---- */
static HostObject g_camera, g_connection;
static uint16_t g_port;

static HostObject* HostGetCameraInfo(void* self) { EXPECT_TAG(self, kTagConfig, "GetCameraInfo"); return &g_camera; }
static HostObject* HostGetConnectionInfo(void* self) { EXPECT_TAG(self, kTagConfig, "GetConnectionInfo"); return &g_connection; }
static const char* HostGetParameter(void* self, int32_t index) { EXPECT_TAG(self, kTagConfig, "GetParameter"); (void)index; return NULL; }
static const char* HostGetModel(void* self) { EXPECT_TAG(self, kTagCamera, "GetModel"); return "M16"; }
static int32_t HostGetChannelCount(void* self) { EXPECT_TAG(self, kTagCamera, "GetChannelCount"); return 1; }
static int32_t HostGetInputCount(void* self) { EXPECT_TAG(self, kTagCamera, "GetInputCount"); return 0; }
static int32_t HostGetOutputCount(void* self) { EXPECT_TAG(self, kTagCamera, "GetOutputCount"); return 0; }
static const char* HostGetAddress(void* self) { EXPECT_TAG(self, kTagConnection, "GetAddress"); return "127.0.0.1"; }
static uint16_t HostGetPort(void* self) { EXPECT_TAG(self, kTagConnection, "GetPort"); return g_port; }
static int32_t HostGetStreamType(void* self) { EXPECT_TAG(self, kTagConnection, "GetStreamType"); return 1; }
static const char* HostGetUserName(void* self) { EXPECT_TAG(self, kTagConnection, "GetUserName"); return ""; }
static const char* HostGetPassword(void* self) { EXPECT_TAG(self, kTagConnection, "GetPassword"); return ""; }

/* ---- channel settings: IChannelSettings 1 GetVideoFormat, 2 GetRateControl; IVideoFormat
 *      3 GetResolution; IResolution 1 GetWidth, 2 GetHeight; IRateControl 1 GetFrameInterval,
 *      3 GetQuality ---- */
static HostObject g_format, g_resolution, g_rate;

static HostObject* HostGetVideoFormat(void* self) { EXPECT_TAG(self, kTagSettings, "GetVideoFormat"); return &g_format; }
static HostObject* HostGetRateControl(void* self) { EXPECT_TAG(self, kTagSettings, "GetRateControl"); return &g_rate; }
static HostObject* HostGetResolution(void* self) { EXPECT_TAG(self, kTagFormat, "GetResolution"); return &g_resolution; }
static uint16_t HostGetWidth(void* self) { EXPECT_TAG(self, kTagResolution, "GetWidth"); return 640; }
static uint16_t HostGetHeight(void* self) { EXPECT_TAG(self, kTagResolution, "GetHeight"); return 480; }
static uint16_t HostGetFrameInterval(void* self) { EXPECT_TAG(self, kTagRate, "GetFrameInterval"); return 100; }
static uint16_t HostGetQuality(void* self) { EXPECT_TAG(self, kTagRate, "GetQuality"); return 60; }

#define TABLE(name, ...) static const Slot name[] = {(Slot)HostDestructor, __VA_ARGS__}
TABLE(kReceiverSlots, (Slot)HostPostDebugInfo);
TABLE(kAllocatorSlots, (Slot)Unused, (Slot)HostAllocateSample, (Slot)Unused, (Slot)Unused, (Slot)Unused, (Slot)HostReleaseSample);
TABLE(kSinkSlots, (Slot)HostDeliverSample, (Slot)Unused, (Slot)HostOnSignalLost);
TABLE(kConfigSlots, (Slot)HostGetCameraInfo, (Slot)HostGetConnectionInfo, (Slot)Unused, (Slot)HostGetParameter);
TABLE(kCameraSlots, (Slot)Unused, (Slot)HostGetModel, (Slot)HostGetChannelCount, (Slot)Unused, (Slot)HostGetInputCount, (Slot)HostGetOutputCount);
TABLE(kConnectionSlots, (Slot)HostGetAddress, (Slot)HostGetPort, (Slot)Unused, (Slot)HostGetStreamType, (Slot)HostGetUserName, (Slot)HostGetPassword);
TABLE(kSettingsSlots, (Slot)HostGetVideoFormat, (Slot)HostGetRateControl);
TABLE(kFormatSlots, (Slot)Unused, (Slot)Unused, (Slot)HostGetResolution);
TABLE(kResolutionSlots, (Slot)HostGetWidth, (Slot)HostGetHeight);
TABLE(kRateSlots, (Slot)HostGetFrameInterval, (Slot)Unused, (Slot)HostGetQuality);

/* A table as the host hands it out: shift extra leading slots, then the real ones. */
static const Slot* Table(const Slot* slots, size_t count, unsigned shift) {
    Slot* table = (Slot*)malloc((count + shift) * sizeof(Slot));
    if (!table) exit(1);
    for (unsigned i = 0; i < shift; ++i) table[i] = (Slot)HostDestructor;
    memcpy(table + shift, slots, count * sizeof(Slot));
    return table;
}
#define MAKE(object, slots, tagValue, shift) \
    ((object).vtable = Table(slots, sizeof(slots) / sizeof(slots[0]), shift), (object).tag = (tagValue))

/* Calls on the module's objects, by slot number (Microsoft's layout). */
#define SLOT(object, n) ((*(void* const* const*)(object))[n])
typedef bool (*OpenFn)(void*, void*, void*, void*);
typedef void (*CloseFn)(void*);
typedef void* (*GetObjectFn)(void*);
typedef uint32_t (*CountFn)(void*);
typedef bool (*StartChannelFn)(void*, uint32_t, void*, void*);
typedef bool (*StopChannelFn)(void*, uint32_t);
typedef bool (*ChannelStateFn)(void*, uint32_t, int32_t*, int32_t*, char*, uint32_t);
enum {
    kDriverOpen = 1, kDriverClose = 2, kDriverGetVideoCapture = 3,
    kCaptureGetChannelCount = 1, kCaptureStartChannel = 2, kCaptureStopChannel = 3, kCaptureGetChannelState = 6
};

static const DWORD kPictureWaitMs = 20000;

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: MsvcLayoutHost <quillon.dll> <camera port> [--shift N]\n");
        return 2;
    }
    unsigned shift = 0;
    if (argc == 5 && strcmp(argv[3], "--shift") == 0) shift = (unsigned)atoi(argv[4]);
    g_port = (uint16_t)atoi(argv[2]);

    HMODULE module = LoadLibraryA(argv[1]);
    if (!module) {
        fprintf(stderr, "cannot load %s: error %lu\n", argv[1], (unsigned long)GetLastError());
        return 1;
    }
    void* (*create)(void) = (void* (*)(void))(void*)GetProcAddress(module, "CreateIPCapture");
    void (*destroy)(void*) = (void (*)(void*))(void*)GetProcAddress(module, "DeleteIPCapture");
    if (!create || !destroy) {
        fprintf(stderr, "the module lacks CreateIPCapture or DeleteIPCapture\n");
        return 1;
    }

    HostObject receiver, allocator, sink, config, settings;
    MAKE(receiver, kReceiverSlots, kTagReceiver, shift);
    MAKE(allocator, kAllocatorSlots, kTagAllocator, shift);
    MAKE(sink, kSinkSlots, kTagSink, shift);
    MAKE(config, kConfigSlots, kTagConfig, shift);
    MAKE(g_camera, kCameraSlots, kTagCamera, shift);
    MAKE(g_connection, kConnectionSlots, kTagConnection, shift);
    MAKE(settings, kSettingsSlots, kTagSettings, shift);
    MAKE(g_format, kFormatSlots, kTagFormat, shift);
    MAKE(g_resolution, kResolutionSlots, kTagResolution, shift);
    MAKE(g_rate, kRateSlots, kTagRate, shift);
    g_sampleTable = Table(kSampleSlots, sizeof(kSampleSlots) / sizeof(kSampleSlots[0]), shift);
    g_picturesEvent = CreateEventW(NULL, TRUE, FALSE, NULL);

    void* driver = create();
    if (!driver) {
        fprintf(stderr, "CreateIPCapture gave no driver\n");
        return 1;
    }
    int result = 1;
    if (!((OpenFn)SLOT(driver, kDriverOpen))(driver, &receiver, &allocator, &config)) {
        fprintf(stderr, "Open failed\n");
    } else {
        void* capture = ((GetObjectFn)SLOT(driver, kDriverGetVideoCapture))(driver);
        uint32_t channels = capture ? ((CountFn)SLOT(capture, kCaptureGetChannelCount))(capture) : 0;
        printf("video capture object %s, %u channel(s)\n", capture ? "present" : "missing", channels);
        if (channels == 1 && ((StartChannelFn)SLOT(capture, kCaptureStartChannel))(capture, 0, &sink, &settings)) {
            DWORD waited = WaitForSingleObject(g_picturesEvent, kPictureWaitMs);
            int32_t state = -1, code = -1;
            char text[256] = "";
            ((ChannelStateFn)SLOT(capture, kCaptureGetChannelState))(capture, 0, &state, &code, text, sizeof(text));
            printf("channel 0: state %d, code %d, \"%s\"\n", state, code, text);
            if (!((StopChannelFn)SLOT(capture, kCaptureStopChannel))(capture, 0)) fprintf(stderr, "StopChannel failed\n");
            printf("pictures %ld, malformed %ld, debug lines %ld\n", g_pictures, g_badPictures, g_debugLines);
            if (waited == WAIT_OBJECT_0 && g_badPictures == 0) result = 0;
            else fprintf(stderr, "no %ld good pictures within %lu ms\n", kPicturesWanted, (unsigned long)kPictureWaitMs);
        } else {
            fprintf(stderr, "StartChannel failed\n");
        }
        ((CloseFn)SLOT(driver, kDriverClose))(driver);
    }
    destroy(driver);
    FreeLibrary(module);
    printf("%s\n", result == 0 ? "MSVC layout host: passed" : "MSVC layout host: FAILED");
    return result;
}
