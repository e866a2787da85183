#include "mrvusbasio.h"

#include "devicesettingsids.h"
#include "drivertrace.h"
#include "kstrace.h"

#include <stdio.h>
#include <ksmedia.h>

#include <stdarg.h>
#include <cstring>
#include <new>

namespace {

WAVEFORMATEXTENSIBLE pcmFormat(WORD channels, WORD bits, DWORD rate)
{
    WAVEFORMATEXTENSIBLE format;
    memset(&format, 0, sizeof format);
    format.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    format.Format.nChannels = channels;
    format.Format.nSamplesPerSec = rate;
    format.Format.wBitsPerSample = bits;
    format.Format.nBlockAlign = WORD(bits / 8 * channels);
    format.Format.nAvgBytesPerSec = format.Format.nBlockAlign * rate;
    format.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
    format.Samples.wValidBitsPerSample = bits;
    format.dwChannelMask = 0;
    format.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
    return format;
}

// The largest channel count among the pin's audio ranges.
WORD maximumChannels(CKsAudPin* pin)
{
    ULONG most = 0;
    for (CKsListEntry<KSDATARANGE_AUDIO>* entry = pin->m_listDataRange.First(); entry; entry = entry->pNext) {
        if (entry->pData->MaximumChannels > most) most = entry->pData->MaximumChannels;
    }
    return WORD(most);
}

void warningBox(LPCSTR text) { MessageBoxA(NULL, text, kDriverName, MB_OK | MB_ICONWARNING); }

constexpr const char kFormatRefused[] = "The hardware does not support the requested sample format";

}  // namespace

CUnknown* MrvUsbAsio::createInstance(IUnknown* pOuter, HRESULT* phr)
{
    return new (std::nothrow) MrvUsbAsio(pOuter, phr);
}

MrvUsbAsio::MrvUsbAsio(IUnknown* pOuter, HRESULT* phr)
    : CUnknown("MrvUsbAsioDriver", pOuter),
      callbacks(nullptr),
      running(false),
      timeInfoMode(false),
      errorMessage(),
      filter(nullptr),
      renderPin(nullptr),
      capturePin(nullptr),
      numInputs(0),
      numOutputs(0),
      inputBuffers(nullptr),
      outputBuffers(nullptr),
      inputChannels(nullptr),
      outputChannels(nullptr),
      bufferSize(0),
      streamThread(INVALID_HANDLE_VALUE),
      startedEvent(INVALID_HANDLE_VALUE),
      startError(ASE_OK),
      notifyThread(INVALID_HANDLE_VALUE),
      quitEvent(INVALID_HANDLE_VALUE),
      settingsEvent(INVALID_HANDLE_VALUE),
      settingsEventData(),
      asioTime(),
      sysHandle(NULL),
      initialised(false)
{
    if (phr) *phr = S_OK;
    DriverTrace("MrvUsbAsio::MrvUsbAsio()\n");
}

MrvUsbAsio::~MrvUsbAsio()
{
    DriverTrace("+MrvUsbAsio::~MrvUsbAsio()\n");
    DriverTrace("MrvUsbAsio::stop()\n");
    stopStreamThread();
    disposeBuffers();
    closeFilter();
    DriverTrace("-MrvUsbAsio::~MrvUsbAsio()\n");
}

// ---- IUnknown ----

HRESULT STDMETHODCALLTYPE MrvUsbAsio::QueryInterface(REFIID riid, void** ppv)
{
    return GetOwner()->QueryInterface(riid, ppv);
}

ULONG STDMETHODCALLTYPE MrvUsbAsio::AddRef() { return GetOwner()->AddRef(); }

ULONG STDMETHODCALLTYPE MrvUsbAsio::Release() { return GetOwner()->Release(); }

HRESULT STDMETHODCALLTYPE MrvUsbAsio::NonDelegatingQueryInterface(REFIID riid, void** ppv)
try {
    if (ppv && IsEqualIID(riid, CLSID_MrvUsbAsio)) return GetInterface(static_cast<IASIO*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
} catch (...) {
    return E_UNEXPECTED;
}

// ---- Opening the device ----

void MrvUsbAsio::setErrorMessage(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    _vsnprintf(errorMessage, sizeof errorMessage - 1, format, args);
    va_end(args);
    errorMessage[sizeof errorMessage - 1] = '\0';
}

ASIOBool MrvUsbAsio::init(void* sys)
try {
    DriverTrace("MrvUsbAsio::init()\n");
    // A second init would open the open pins again.
    if (initialised) return ASIOTrue;
    sysHandle = static_cast<HWND>(sys);
    bool keyOpened = loadPrefs(prefs);
    DriverTrace("MrvUsbAsio::init() : SampleRate = %d\n", int(prefs.sampleRate));
    KsTrace(4, "*** Enumerating filters...");
    filterList.Enumerate();
    if (filterList.GetFilterCount() == 0) {
        KsTrace(1, "MrvUsbAsio::init() : no available filters found");
        setErrorMessage("No Marvolan USB audio device found. Connect the device and check that its driver is "
                        "installed.");
        return ASIOFalse;
    }
    for (ULONG i = 0; i < filterList.GetFilterCount(); ++i) {
        CKsAudFilter* candidate = filterList.GetFilter(i);
        if (candidate && _strnicmp(candidate->GetDevicePath(), prefs.filterPath, MAX_PATH) == 0) {
            tryFilter(candidate);
            break;
        }
    }
    for (ULONG i = 0; !filter && i < filterList.GetFilterCount(); ++i) {
        if (filterList.GetFilter(i)) tryFilter(filterList.GetFilter(i));
    }
    if (!filter) {
        KsTrace(1, "MrvUsbAsio::init() : Could not instatiate a filter");
        return ASIOFalse;
    }
    if (GetKeyState(VK_CAPITAL) != 0 || !keyOpened) {
        controlPanel();
        savePrefs(prefs);
        // Settings chosen in the panel re-open the filter, which may fail.
        if (!filter) return ASIOFalse;
    }
    errorMessage[0] = '\0';
    initialised = true;
    return ASIOTrue;
} catch (...) {
    return ASIOFalse;
}

bool MrvUsbAsio::tryFilter(CKsAudFilter* candidate)
{
    KsTrace(2, "*** Trying filter '%s'", candidate->GetDevicePath());
    const char* device = candidate->m_szFriendlyName[0] ? candidate->m_szFriendlyName : candidate->GetDevicePath();
    ULONG renderPins = candidate->m_listRenderSinkPins.Count();
    ULONG capturePins = candidate->m_listCaptureSinkPins.Count();
    if (renderPins != 1) {
        KsTrace(1, "Incorrect number of render pins (%d)\n", int(renderPins));
        setErrorMessage("%.60s has %d output streams; this driver needs exactly one.", device, int(renderPins));
        return false;
    }
    if (capturePins != 1) {
        KsTrace(1, "Incorrect number of capture pins (%d)\n", int(capturePins));
        setErrorMessage("%.60s has %d input streams; this driver needs exactly one.", device, int(capturePins));
        return false;
    }
    WORD outputs = maximumChannels(static_cast<CKsAudPin*>(candidate->m_listRenderSinkPins.First()->pData));
    WORD inputs = maximumChannels(static_cast<CKsAudPin*>(candidate->m_listCaptureSinkPins.First()->pData));
    const WORD bits = kSampleFormats[prefs.sampleFormat].pinBits;

    WAVEFORMATEXTENSIBLE format = pcmFormat(outputs, bits, DWORD(prefs.sampleRate));
    if (!candidate->CanCreateRenderPin(&format.Format)) {
        KsTrace(1, "CanCreateRenderPin() == FALSE");
        warningBox(kFormatRefused);
        setErrorMessage("%.60s does not play %d-bit audio at %d Hz. Choose another format in the control panel.",
                        device, int(bits), int(prefs.sampleRate));
        return false;
    }
    CKsAudPin* render = candidate->CreateRenderPin(&format.Format, FALSE);
    if (!render) {
        KsTrace(1, "CreateRenderPin(), #1 FAILED");
        prefs.sampleRate = prefs.sampleRate == 44100 ? 48000 : 44100;
        format = pcmFormat(outputs, bits, DWORD(prefs.sampleRate));
        render = candidate->CreateRenderPin(&format.Format, FALSE);
        if (!render) {
            KsTrace(1, "CreateRenderPin(), #2 FAILED");
            warningBox(kFormatRefused);
            setErrorMessage("The output stream of %.60s could not be opened. Close other audio programs and try "
                            "again.",
                            device);
            return false;
        }
        warningBox("Unable to set the desired sample rate.\n\nAnother program is already playing audio through the "
                   "hardware,\nplease stop all other audio applications to be able to change sample rate.");
    }
    format = pcmFormat(inputs, bits, DWORD(prefs.sampleRate));
    CKsAudPin* capture = candidate->CreateCapturePin(&format.Format, FALSE);
    if (!capture) {
        KsTrace(1, "CreateCapturePin() FAILED");
        warningBox("Could not open the input (record) stream on the device.\nPlease check device installation and "
                   "contact technical support.");
        setErrorMessage("The input stream of %.60s could not be opened. Check the device's installation.", device);
        // A render pin without its capture pin is of no use to anyone.
        render->ClosePin();
        return false;
    }
    numInputs = inputs;
    numOutputs = outputs;
    // A driver that hid channels it could not describe would look like
    // another device to the host.
    if (!buildChannelInfos()) {
        KsTrace(1, "Out of memory for the channel records");
        setErrorMessage("Not enough memory to open %.60s.", device);
        capture->ClosePin();
        render->ClosePin();
        numInputs = numOutputs = 0;
        return false;
    }
    filter = candidate;
    renderPin = render;
    capturePin = capture;
    enableSettingsEvent();
    return true;
}

bool MrvUsbAsio::buildChannelInfos()
{
    delete[] inputChannels;
    delete[] outputChannels;
    inputChannels = new (std::nothrow) ASIOChannelInfo[numInputs > 0 ? numInputs : 1]();
    outputChannels = new (std::nothrow) ASIOChannelInfo[numOutputs > 0 ? numOutputs : 1]();
    if (!inputChannels || !outputChannels) {
        delete[] inputChannels;
        delete[] outputChannels;
        inputChannels = outputChannels = nullptr;
        return false;
    }
    for (int input = 0; input < 2; ++input) {
        ASIOChannelInfo* infos = input ? inputChannels : outputChannels;
        for (LONG i = 0; infos && i < (input ? numInputs : numOutputs); ++i) {
            infos[i].channel = i;
            infos[i].isInput = input;
            infos[i].type = kSampleFormats[prefs.sampleFormat].type;
            _snprintf(infos[i].name, sizeof infos[i].name - 1, input ? "Input %d" : "Output %d", int(i + 1));
        }
    }
    return true;
}

bool MrvUsbAsio::enableSettingsEvent()
{
    settingsEvent = CreateEventA(NULL, FALSE, FALSE, NULL);
    if (!settingsEvent) {
        settingsEvent = INVALID_HANDLE_VALUE;
        return false;
    }
    KSEVENT event;
    event.Set = KSEVENTSETID_DeviceSettings;
    event.Id = KSEVENT_DEVICESETTINGS_CHANGED;
    event.Flags = KSEVENT_TYPE_ENABLE;
    memset(&settingsEventData, 0, sizeof settingsEventData);
    settingsEventData.NotificationType = KSEVENTF_EVENT_HANDLE;
    settingsEventData.EventHandle.Event = settingsEvent;
    ULONG returned = 0;
    if (FAILED(CKsIrpTarget::SyncIoctl(filter->GetHandle(), IOCTL_KS_ENABLE_EVENT, &event, sizeof event,
                                       &settingsEventData, sizeof settingsEventData, &returned))) {
        CloseHandle(settingsEvent);
        settingsEvent = INVALID_HANDLE_VALUE;
        return false;
    }
    quitEvent = CreateEventA(NULL, FALSE, FALSE, NULL);
    notifyThread = quitEvent ? CreateThread(NULL, 0, notifyThreadProc, this, 0, NULL) : NULL;
    if (!notifyThread) {
        if (quitEvent) CloseHandle(quitEvent);
        quitEvent = notifyThread = INVALID_HANDLE_VALUE;
        CKsIrpTarget::SyncIoctl(filter->GetHandle(), IOCTL_KS_DISABLE_EVENT, &settingsEventData,
                                sizeof settingsEventData, NULL, 0, &returned);
        CloseHandle(settingsEvent);
        settingsEvent = INVALID_HANDLE_VALUE;
        return false;
    }
    return true;
}

DWORD WINAPI MrvUsbAsio::notifyThreadProc(LPVOID context)
{
    auto* self = static_cast<MrvUsbAsio*>(context);
    const HANDLE events[2] = {self->quitEvent, self->settingsEvent};
    while (WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) self->requestReset();
    return 0;
}

void MrvUsbAsio::requestReset() const
{
    ASIOCallbacks* host = callbacks;
    if (host && host->asioMessage) host->asioMessage(kAsioResetRequest, 0, NULL, NULL);
}

void MrvUsbAsio::closeFilter()
{
    delete[] inputChannels;
    delete[] outputChannels;
    inputChannels = outputChannels = nullptr;
    if (notifyThread != INVALID_HANDLE_VALUE) {
        SetEvent(quitEvent);
        WaitForSingleObject(notifyThread, INFINITE);
        CloseHandle(notifyThread);
        CloseHandle(quitEvent);
        notifyThread = quitEvent = INVALID_HANDLE_VALUE;
    }
    if (settingsEvent != INVALID_HANDLE_VALUE) {
        // The filter stays open in the list; it must not signal a closed event.
        ULONG returned = 0;
        if (filter) {
            CKsIrpTarget::SyncIoctl(filter->GetHandle(), IOCTL_KS_DISABLE_EVENT, &settingsEventData,
                                    sizeof settingsEventData, NULL, 0, &returned);
        }
        CloseHandle(settingsEvent);
        settingsEvent = INVALID_HANDLE_VALUE;
    }
    if (capturePin) capturePin->ClosePin();
    if (renderPin) renderPin->ClosePin();
    filter = nullptr;
    renderPin = capturePin = nullptr;
}

LONG MrvUsbAsio::readBufferLength() const
{
    ULONG ms = 0;
    if (!filter ||
        FAILED(filter->GetPropertySimple(KSPROPSETID_DeviceSettings, KSPROPERTY_DEVICESETTINGS_URBSIZE, &ms,
                                         sizeof ms))) {
        return 0;
    }
    return LONG(ms);
}

// ---- Queries ----

void MrvUsbAsio::getDriverName(char* name)
try {
    if (name) strncpy(name, kDriverName, 32);
} catch (...) {
}

LONG MrvUsbAsio::getDriverVersion() { return 1; }

void MrvUsbAsio::getErrorMessage(char* string)
try {
    if (string) strncpy(string, errorMessage, ARRAYSIZE(errorMessage));
} catch (...) {
}

ASIOError MrvUsbAsio::getChannels(LONG* numInputChannels, LONG* numOutputChannels)
try {
    if (!renderPin) return ASE_NotPresent;
    if (!numInputChannels || !numOutputChannels) return ASE_InvalidParameter;
    *numInputChannels = numInputs;
    *numOutputChannels = numOutputs;
    return ASE_OK;
} catch (...) {
    return ASE_HWMalfunction;
}

ASIOError MrvUsbAsio::getLatencies(LONG* inputLatency, LONG* outputLatency)
try {
    if (!renderPin) return ASE_NotPresent;
    if (!inputLatency || !outputLatency) return ASE_InvalidParameter;
    // The kernel driver's own path adds about 1.33 ms each way.
    float rate = float(renderPin->GetFormat()->nSamplesPerSec);
    LONG extra = LONG(rate * 1.3333334f / 1000.0f);
    *inputLatency = bufferSize * prefs.numKsPackets + extra;
    *outputLatency = bufferSize * (prefs.numKsPackets + 1) + extra;
    return ASE_OK;
} catch (...) {
    return ASE_HWMalfunction;
}

ASIOError MrvUsbAsio::getBufferSize(LONG* minSize, LONG* maxSize, LONG* preferredSize, LONG* granularity)
try {
    // Without the kernel driver there is no buffer length to derive a size from.
    if (!renderPin) return ASE_NotPresent;
    if (!minSize || !maxSize || !preferredSize || !granularity) return ASE_InvalidParameter;
    if (bufferSize == 0) {
        ULONG n = ULONG(prefs.sampleRate) * ULONG(readBufferLength());
        if (prefs.sampleRate % 1000 != 0) n += 2000;
        LONG frames = LONG(n / 1000) & ~1;
        bufferSize = (frames + 3) & ~3;
    }
    *minSize = *maxSize = *preferredSize = bufferSize;
    *granularity = 0;
    return ASE_OK;
} catch (...) {
    return ASE_HWMalfunction;
}

// ---- Sample rate and clock ----

ASIOError MrvUsbAsio::canSampleRate(ASIOSampleRate sampleRate)
try {
    if (!renderPin) return ASE_NotPresent;
    if (!(sampleRate >= 1.0 && sampleRate < 4294967296.0)) return ASE_NoClock;
    const DWORD rate = DWORD(sampleRate);
    const WAVEFORMATEX* current = renderPin->GetFormat();
    if (rate == current->nSamplesPerSec) return ASE_OK;
    // Once the host knows the buffer size, which follows from the rate, the
    // rate is fixed for the object's life.
    if (bufferSize != 0) return ASE_NoClock;
    WAVEFORMATEXTENSIBLE test = pcmFormat(2, current->wBitsPerSample, rate);
    return renderPin->IsFormatSupported(&test.Format) && capturePin->IsFormatSupported(&test.Format) ? ASE_OK
                                                                                                     : ASE_NoClock;
} catch (...) {
    return ASE_HWMalfunction;
}

ASIOError MrvUsbAsio::getSampleRate(ASIOSampleRate* sampleRate)
try {
    if (!renderPin) return ASE_NotPresent;
    if (!sampleRate) return ASE_InvalidParameter;
    *sampleRate = renderPin->GetFormat()->nSamplesPerSec;
    return ASE_OK;
} catch (...) {
    return ASE_HWMalfunction;
}

ASIOError MrvUsbAsio::setSampleRate(ASIOSampleRate sampleRate)
try {
    if (canSampleRate(sampleRate) != ASE_OK) return ASE_NoClock;
    const WAVEFORMATEX* current = renderPin->GetFormat();
    const DWORD oldRate = current->nSamplesPerSec;
    const DWORD rate = DWORD(sampleRate);
    if (rate == oldRate) return ASE_OK;
    const WORD bits = current->wBitsPerSample;
    renderPin->ClosePin();
    capturePin->ClosePin();
    auto reopen = [&](DWORD r) {
        WAVEFORMATEXTENSIBLE renderFormat = pcmFormat(WORD(numOutputs), bits, r);
        WAVEFORMATEXTENSIBLE captureFormat = pcmFormat(WORD(numInputs), bits, r);
        bool ok = SUCCEEDED(renderPin->SetFormat(&renderFormat.Format));
        ok = SUCCEEDED(capturePin->SetFormat(&captureFormat.Format)) && ok;
        ok = ok && SUCCEEDED(renderPin->Instantiate(FALSE));
        ok = ok && SUCCEEDED(capturePin->Instantiate(FALSE));
        return ok;
    };
    if (!reopen(rate)) {
        // Back to the rate that worked, so the pins stay usable.
        renderPin->ClosePin();
        capturePin->ClosePin();
        reopen(oldRate);
        return ASE_NoClock;
    }
    asioTime.timeInfo.sampleRate = rate;
    return ASE_OK;
} catch (...) {
    return ASE_HWMalfunction;
}

ASIOError MrvUsbAsio::getClockSources(ASIOClockSource* clocks, LONG* numSources)
try {
    if (!clocks || !numSources) return ASE_InvalidParameter;
    memset(clocks, 0, sizeof *clocks);
    clocks->index = 0;
    clocks->associatedChannel = -1;
    clocks->associatedGroup = -1;
    clocks->isCurrentSource = ASIOTrue;
    strcpy(clocks->name, "Internal");
    *numSources = 1;
    return ASE_OK;
} catch (...) {
    return ASE_HWMalfunction;
}

ASIOError MrvUsbAsio::setClockSource(LONG reference)
try {
    if (reference != 0) return ASE_NotPresent;
    asioTime.timeInfo.flags |= kClockSourceChanged;
    return ASE_OK;
} catch (...) {
    return ASE_HWMalfunction;
}

ASIOError MrvUsbAsio::getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp)
try {
    if (!sPos || !tStamp) return ASE_InvalidParameter;
    *sPos = asioTime.timeInfo.samplePosition;
    *tStamp = asioTime.timeInfo.systemTime;
    return ASE_OK;
} catch (...) {
    return ASE_HWMalfunction;
}

ASIOError MrvUsbAsio::getChannelInfo(ASIOChannelInfo* info)
try {
    if (!info) return ASE_InvalidParameter;
    const LONG count = info->isInput ? numInputs : numOutputs;
    const ASIOChannelInfo* infos = info->isInput ? inputChannels : outputChannels;
    if (!infos || info->channel < 0 || info->channel >= count) return ASE_InvalidParameter;
    *info = infos[info->channel];
    return ASE_OK;
} catch (...) {
    return ASE_HWMalfunction;
}

ASIOError MrvUsbAsio::future(LONG selector, void* opt)
{
    UNREFERENCED_PARAMETER(opt);
    return selector == kAsioCanTimeInfo ? ASE_SUCCESS : ASE_NotPresent;
}

ASIOError MrvUsbAsio::outputReady() { return ASE_NotPresent; }
