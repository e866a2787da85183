// The class driver's object tree behind the published KS records: device →
// filter factories → filters → pins, each with its object bag. Every public
// record is the first member of its object, so a PKSDEVICE/PKSFILTER/... is
// also a pointer to the object; a table of live objects tells the kinds apart
// and catches pointers to objects that are gone.
#pragma once

#include <ks.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <thread>
#include <mutex>
#include <string>
#include <vector>

namespace kmsim::ks {

enum class Kind { Device, Factory, Filter, Pin };

// Items the minidriver hangs on an object; freed with their routine (or
// ExFreePool) when the object goes away, newest first.
struct ObjectBag {
    std::mutex mutex;
    std::vector<std::pair<PVOID, PFNKSFREE>> items;
};
void FreeObjectBag(ObjectBag& bag);

struct Device;
struct Factory;
struct Filter;
struct Pin;

struct Driver {
    PDRIVER_OBJECT driverObject = nullptr;
    const KSDEVICE_DESCRIPTOR* descriptor = nullptr;
    std::vector<Device*> devices;
};

struct Device {
    KSDEVICE ks{};
    ObjectBag bag;
    std::recursive_mutex mutex;  // KsAcquireDevice; a mutex the owner may take again
    Driver* driver = nullptr;
    std::vector<Factory*> factories;
    bool removed = false;
    // Set once by IRP_MN_SURPRISE_REMOVAL (the PnP thread), read anywhere:
    // from then on the clients' requests fail until they close.
    std::atomic<bool> surpriseRemoved{false};
};

struct DeviceInterface {
    GUID category{};
    std::u16string symbolicLink;
    std::u16string reference;
    Factory* factory = nullptr;
    bool enabled = false;
};

struct Factory {
    KSFILTERFACTORY ks{};
    ObjectBag bag;
    Device* device = nullptr;
    std::u16string reference;
    std::vector<std::u16string> links;  // one per category, in category order
    std::u16string firstLink;           // storage behind linkString
    UNICODE_STRING linkString{};
    std::vector<Filter*> filters;
};

struct EventEntry;

struct Filter {
    KSFILTER ks{};
    ObjectBag bag;
    Factory* factory = nullptr;
    PFILE_OBJECT fileObject = nullptr;
    std::recursive_mutex control;  // serialises pin creation, closing and state changes
    std::vector<Pin*> pins;
    std::list<EventEntry*> events;
};

// A stream request (IOCTL_KS_WRITE_STREAM / READ_STREAM) waiting on a pin,
// and its frames: one per KSSTREAM_HEADER, in order.
// Its frames leave the queue as they are used, when the pin stops, resets or
// closes, or when the request is cancelled (a frame the minidriver holds
// locked leaves when it is unlocked); the request completes when the last
// one has left, by whoever took the cancel routine back, or by the cancel
// routine itself.
struct QueuedIrp {
    PIRP irp = nullptr;
    Pin* pin = nullptr;
    ULONG framesLeft = 0;
    bool cancelled = false;
    bool cancelRan = false;  // the cancel routine has been and gone; under the queue lock
    NTSTATUS status = STATUS_SUCCESS;  // what it completes with unless cancelled; under the queue lock
};

struct Frame {
    QueuedIrp* owner = nullptr;
    PKSSTREAM_HEADER header = nullptr;
    ULONG done = 0;  // bytes consumed (sink taking data) or produced so far
};

struct StreamQueue {
    std::recursive_mutex lock;
    // Requests not yet completed; a stop waits for the ones whose cancel
    // routine is on its way, so none outlives the pin.
    size_t requests = 0;
    std::condition_variable_any requestsDone;
    std::list<Frame> frames;
    KSSTREAM_POINTER leading{};  // the one leading-edge pointer handed out
    bool locked = false;
    // Process never runs twice at once for a pin; an attempt that finds it
    // running asks the running one to go round again.
    std::mutex processGuard;
    std::thread::id processingThread;
    bool processing = false;
    bool again = false;
};

struct Pin {
    KSPIN ks{};
    ObjectBag bag;
    Filter* filter = nullptr;
    PFILE_OBJECT fileObject = nullptr;
    std::vector<uint64_t> format;  // the connection format, 8-byte aligned
    std::list<EventEntry*> events;
    StreamQueue queue;
};

// One enabled event. The entry the minidriver sees is followed directly by
// the ExtraEntryData bytes its event item asked for.
struct EventEntry {
    std::vector<uint64_t> storage;    // KSEVENT_ENTRY, then the extra bytes
    KSEVENTDATA data{};               // captured from the client
    const void* clientKey = nullptr;  // the client's KSEVENTDATA, which names the event when disabling
    bool oneShot = false;
    std::list<EventEntry*>* list = nullptr;  // the owner's list once added
    PKSEVENT_ENTRY entry() { return reinterpret_cast<PKSEVENT_ENTRY>(storage.data()); }
};

// ---- The live-object table and the tree ------------------------------------
// One lock guards the tree's links; minidriver callbacks never run under it.
std::recursive_mutex& TreeLock();
void RegisterObject(const void* object, Kind kind);
void UnregisterObject(const void* object);
// The kind of a live object, or false when the pointer names none.
bool KindOf(const void* object, Kind* kind);

Device* DeviceOf(PVOID object);  // null when object is not live
Filter* FilterOfFileObject(PFILE_OBJECT fileObject);
Pin* PinOfFileObject(PFILE_OBJECT fileObject);

Driver* DriverOf(PDRIVER_OBJECT driverObject);
Driver* AddDriver(PDRIVER_OBJECT driverObject, const KSDEVICE_DESCRIPTOR* descriptor);
void RemoveDriver(PDRIVER_OBJECT driverObject);

// ---- Device interfaces ------------------------------------------------------
void AddDeviceInterface(const DeviceInterface& item);
void RemoveDeviceInterfaces(Factory* factory);
void SetDeviceInterfacesState(Factory* factory, bool enabled);

// ---- Teardown ---------------------------------------------------------------
// Closes every pin and filter of the factory and removes its interfaces.
void DestroyFactory(Factory* factory);
// Closes the pin as a client close would (state back to STOP, Close, bag).
void DestroyPin(Pin* pin, PIRP closeIrp);
void DestroyFilter(Filter* filter, PIRP closeIrp);
void RemoveEventsOf(std::list<EventEntry*>& events, PFILE_OBJECT fileObject);

// ---- Requests ---------------------------------------------------------------
NTSTATUS DispatchCreate(Device* device, PIRP irp);
NTSTATUS DispatchClose(PIRP irp);
NTSTATUS DispatchProperty(PIRP irp);
NTSTATUS DispatchEnableEvent(PIRP irp);
NTSTATUS DispatchDisableEvent(PIRP irp);
NTSTATUS DispatchStream(PIRP irp);

// Completes every queued stream request of the pin with STATUS_CANCELLED.
void FlushStreamQueue(Pin* pin);
// Runs Process as KsPinAttemptProcessing(pin, FALSE) would.
void ProcessPin(Pin* pin);
// Waits until no processing of the pin is queued or running elsewhere.
void ForgetAsynchronousProcessing(Pin* pin);
bool HasQueuedFrames(Pin* pin);

// Steps the pin's state one state at a time towards target; stops at the
// first failing step and returns its status.
NTSTATUS ChangePinState(Pin* pin, KSSTATE target);

// The automation table of the object addressed by the request's file object.
const KSAUTOMATION_TABLE* AutomationTableOf(Filter* filter, Pin* pin);

}  // namespace kmsim::ks
