// MrvUsbAsio: the driver object an ASIO host creates through COM. It opens
// one render and one capture pin on the kernel driver's filter, publishes
// their channels, owns the host's double buffers and runs the streaming
// thread that moves audio between those buffers and the pins.
//
// Threads: the host's thread makes every IASIO call and runs the control
// panel; StreamThread moves audio while running; NotifyThread waits for the
// kernel driver's settings event. There are no locks: each member names its
// one writer, and the host must keep IASIO's call order (createBuffers
// before start, stop before disposeBuffers).
#pragma once

#include "asiointerface.h"
#include "comserver/combase.h"
#include "ksaudfilterlist.h"
#include "prefs.h"

#include <ks.h>

#include <atomic>

// {7B0ADD43-B53F-4C06-A7F1-4505041AC645}: the class, and the interface id
// under which the object answers with IASIO.
inline const CLSID CLSID_MrvUsbAsio = {0x7B0ADD43, 0xB53F, 0x4C06, {0xA7, 0xF1, 0x45, 0x05, 0x04, 0x1A, 0xC6, 0x45}};

constexpr const char kDriverName[] = "Marvolan USB ASIO Driver";

class MrvUsbAsio : public CUnknown, public IASIO {
public:
    MrvUsbAsio(IUnknown* pOuter, HRESULT* phr);
    ~MrvUsbAsio() override;

    // The class factory's creation routine.
    static CUnknown* createInstance(IUnknown* pOuter, HRESULT* phr);

    // IUnknown, forwarded to the owner.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IASIO
    ASIOBool init(void* sysHandle) override;
    void getDriverName(char* name) override;
    LONG getDriverVersion() override;
    void getErrorMessage(char* string) override;
    ASIOError start() override;
    ASIOError stop() override;
    ASIOError getChannels(LONG* numInputChannels, LONG* numOutputChannels) override;
    ASIOError getLatencies(LONG* inputLatency, LONG* outputLatency) override;
    ASIOError getBufferSize(LONG* minSize, LONG* maxSize, LONG* preferredSize, LONG* granularity) override;
    ASIOError canSampleRate(ASIOSampleRate sampleRate) override;
    ASIOError getSampleRate(ASIOSampleRate* sampleRate) override;
    ASIOError setSampleRate(ASIOSampleRate sampleRate) override;
    ASIOError getClockSources(ASIOClockSource* clocks, LONG* numSources) override;
    ASIOError setClockSource(LONG reference) override;
    ASIOError getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) override;
    ASIOError getChannelInfo(ASIOChannelInfo* info) override;
    ASIOError createBuffers(ASIOBufferInfo* bufferInfos, LONG numChannels, LONG bufferSize,
                            ASIOCallbacks* callbacks) override;
    ASIOError disposeBuffers() override;
    ASIOError controlPanel() override;
    ASIOError future(LONG selector, void* opt) override;
    ASIOError outputReady() override;

    // Used by the control panel.
    const CKsAudFilterList& filters() const { return filterList; }
    CKsAudFilter* openFilter() const { return filter; }
    // The kernel driver's buffer length in ms, 0 without a filter.
    LONG readBufferLength() const;
    // Applies settings chosen in the control panel.
    void updatePrefs(const Prefs& chosen);

private:
    friend class StreamThread;

    bool tryFilter(CKsAudFilter* candidate);
    bool enableSettingsEvent();
    void closeFilter();
    bool stopStreamThread();
    void closeStartedEvent();
    bool buildChannelInfos();  // false when out of memory (nothing is left allocated)
    void freeHostBuffers();
    // Input and output records of createBuffers are checked before anything changes.
    bool hostChannelsValid(const ASIOBufferInfo* bufferInfos, LONG numChannels) const;
    ULONG containerBytes() const { return kSampleFormats[prefs.sampleFormat].containerBits / 8; }
    void setErrorMessage(const char* format, ...) __attribute__((format(printf, 2, 3)));
    static DWORD WINAPI notifyThreadProc(LPVOID context);
    void requestReset() const;

    Prefs prefs;                          // host's thread
    std::atomic<ASIOCallbacks*> callbacks;  // host's thread; read by StreamThread and NotifyThread
    std::atomic<bool> running;            // host's thread (start, stop) and StreamThread (when it ends)
    bool timeInfoMode;                    // host's thread
    char errorMessage[124];               // host's thread
    CKsAudFilterList filterList;          // host's thread
    CKsAudFilter* filter;                 // host's thread; owned by filterList
    CKsAudPin* renderPin;                 // host's thread; owned by filter
    CKsAudPin* capturePin;                // host's thread; owned by filter
    LONG numInputs, numOutputs;           // host's thread
    ASIOBufferInfo* inputBuffers;         // host's thread (allocated before start, freed after stop)
    ASIOBufferInfo* outputBuffers;        // host's thread
    ASIOChannelInfo* inputChannels;       // host's thread
    ASIOChannelInfo* outputChannels;      // host's thread
    LONG bufferSize;                      // host's thread; fixed by the first getBufferSize
    HANDLE streamThread;                  // host's thread
    HANDLE startedEvent;                  // host's thread; StreamThread signals it once its start-up is done
    std::atomic<ASIOError> startError;    // StreamThread, before it signals startedEvent; read by start
    HANDLE notifyThread;                  // host's thread
    HANDLE quitEvent;                     // host's thread
    HANDLE settingsEvent;                 // host's thread
    KSEVENTDATA settingsEventData;        // host's thread; also the key that disables the event
    ASIOTime asioTime;                    // positions and times: StreamThread while running; host's thread otherwise
    HWND sysHandle;                       // host's thread
    bool initialised;                     // host's thread
};
