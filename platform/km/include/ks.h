// Kernel-streaming declarations of the kernel side: the published records
// (kspublished.h, shared with user mode) and the class driver's objects,
// descriptors and entry points that a streaming minidriver calls.
#pragma once

#include <wdm.h>

#include <kspublished.h>

// ---------------------------------------------------------------------------
// Kernel-side records
// ---------------------------------------------------------------------------
typedef PVOID KSOBJECT_BAG;
typedef struct _SECURITY_DESCRIPTOR* PSECURITY_DESCRIPTOR;
typedef struct _CM_RESOURCE_LIST* PCM_RESOURCE_LIST;

#ifndef _POWER_ACTION_DEFINED
#define _POWER_ACTION_DEFINED
typedef enum _POWER_ACTION {
    PowerActionNone = 0,
    PowerActionReserved,
    PowerActionSleep,
    PowerActionHibernate,
    PowerActionShutdown,
    PowerActionShutdownReset,
    PowerActionShutdownOff,
    PowerActionWarmEject
} POWER_ACTION, *PPOWER_ACTION;
#endif

typedef struct {
    union {
        ULONG OptionsFlags;
        ULONG RequirementsFlags;
    };
    POOL_TYPE PoolType;
    ULONG Frames;
    ULONG FrameSize;
    ULONG FileAlignment;
    ULONG Reserved;
} KSALLOCATOR_FRAMING, *PKSALLOCATOR_FRAMING;

#define KSALLOCATOR_REQUIREMENTF_INPLACE_MODIFIER    0x00000001
#define KSALLOCATOR_REQUIREMENTF_SYSTEM_MEMORY       0x00000002
#define KSALLOCATOR_REQUIREMENTF_FRAME_INTEGRITY     0x00000004
#define KSALLOCATOR_REQUIREMENTF_MUST_ALLOCATE       0x00000008
#define KSALLOCATOR_REQUIREMENTF_PREFERENCES_ONLY    0x80000000
#define KSALLOCATOR_OPTIONF_COMPATIBLE               0x00000001
#define KSALLOCATOR_OPTIONF_SYSTEM_MEMORY            0x00000002

struct KSALLOCATOR_FRAMING_EX;
typedef struct KSALLOCATOR_FRAMING_EX* PKSALLOCATOR_FRAMING_EX;

struct _KSEVENT_ITEM;
struct _KSEVENT_SET;

// One enabled event, owned by the class driver from enable to disable.
typedef struct _KSEVENT_ENTRY {
    LIST_ENTRY ListEntry;
    PVOID Object;
    PVOID DpcItem;
    PKSEVENTDATA EventData;
    ULONG NotificationType;
    const struct _KSEVENT_SET* EventSet;
    const struct _KSEVENT_ITEM* EventItem;
    PFILE_OBJECT FileObject;
    ULONG SemaphoreAdjustment;
    ULONG Reserved;
    ULONG Flags;
} KSEVENT_ENTRY, *PKSEVENT_ENTRY;

// ---------------------------------------------------------------------------
// Automation tables
// ---------------------------------------------------------------------------
typedef NTSTATUS (*PFNKSHANDLER)(PIRP Irp, PKSIDENTIFIER Request, PVOID Data);
typedef NTSTATUS (*PFNKSADDEVENT)(PIRP Irp, PKSEVENTDATA EventData, PKSEVENT_ENTRY EventEntry);
typedef void (*PFNKSREMOVEEVENT)(PFILE_OBJECT FileObject, PKSEVENT_ENTRY EventEntry);
typedef BOOLEAN (*PFNKSGENERATEEVENTCALLBACK)(PVOID Context, PKSEVENT_ENTRY EventEntry);
typedef void (*PFNKSFREE)(PVOID Data);

struct KSPROPERTY_VALUES;
struct KSFASTPROPERTY_ITEM;
struct KSFASTMETHOD_ITEM;

typedef struct {
    ULONG PropertyId;
    union {
        PFNKSHANDLER GetPropertyHandler;
        BOOLEAN GetSupported;
    };
    ULONG MinProperty;  // bytes of the request
    ULONG MinData;      // bytes of the value
    union {
        PFNKSHANDLER SetPropertyHandler;
        BOOLEAN SetSupported;
    };
    const struct KSPROPERTY_VALUES* Values;
    ULONG RelationsCount;
    const KSPROPERTY* Relations;
    PFNKSHANDLER SupportHandler;
    ULONG SerializedSize;
} KSPROPERTY_ITEM, *PKSPROPERTY_ITEM;

typedef struct {
    const GUID* Set;
    ULONG PropertiesCount;
    const KSPROPERTY_ITEM* PropertyItem;
    ULONG FastIoCount;
    const struct KSFASTPROPERTY_ITEM* FastIoTable;
} KSPROPERTY_SET, *PKSPROPERTY_SET;

typedef struct {
    ULONG MethodId;
    union {
        PFNKSHANDLER MethodHandler;
        BOOLEAN MethodSupported;
    };
    ULONG MinMethod;
    ULONG MinData;
    PFNKSHANDLER SupportHandler;
    ULONG Flags;
} KSMETHOD_ITEM, *PKSMETHOD_ITEM;

typedef struct {
    const GUID* Set;
    ULONG MethodsCount;
    const KSMETHOD_ITEM* MethodItem;
    ULONG FastIoCount;
    const struct KSFASTMETHOD_ITEM* FastIoTable;
} KSMETHOD_SET, *PKSMETHOD_SET;

typedef struct _KSEVENT_ITEM {
    ULONG EventId;
    ULONG DataInput;       // bytes of the KSEVENTDATA the client passes
    ULONG ExtraEntryData;  // bytes the class driver reserves after the entry
    PFNKSADDEVENT AddHandler;
    PFNKSREMOVEEVENT RemoveHandler;
    PFNKSHANDLER SupportHandler;
} KSEVENT_ITEM, *PKSEVENT_ITEM;

typedef struct _KSEVENT_SET {
    const GUID* Set;
    ULONG EventsCount;
    const KSEVENT_ITEM* EventItem;
} KSEVENT_SET, *PKSEVENT_SET;

typedef struct KSAUTOMATION_TABLE_ {
    ULONG PropertySetsCount;
    ULONG PropertyItemSize;
    const KSPROPERTY_SET* PropertySets;
    ULONG MethodSetsCount;
    ULONG MethodItemSize;
    const KSMETHOD_SET* MethodSets;
    ULONG EventSetsCount;
    ULONG EventItemSize;
    const KSEVENT_SET* EventSets;
#if UINTPTR_MAX == 0xFFFFFFFFu
    PVOID Alignment;
#endif
} KSAUTOMATION_TABLE, *PKSAUTOMATION_TABLE;

#define DEFINE_KSPROPERTY_TABLE(tablename) const KSPROPERTY_ITEM tablename[] =
#define DEFINE_KSPROPERTY_SET_TABLE(tablename) const KSPROPERTY_SET tablename[] =
#define DEFINE_KSMETHOD_TABLE(tablename) const KSMETHOD_ITEM tablename[] =
#define DEFINE_KSEVENT_TABLE(tablename) const KSEVENT_ITEM tablename[] =
#define DEFINE_KSEVENT_SET_TABLE(tablename) const KSEVENT_SET tablename[] =

// ---------------------------------------------------------------------------
// Descriptors
// ---------------------------------------------------------------------------
typedef struct {
    ULONG InterfacesCount;
    const KSPIN_INTERFACE* Interfaces;
    ULONG MediumsCount;
    const KSPIN_MEDIUM* Mediums;
    ULONG DataRangesCount;
    const PKSDATARANGE* DataRanges;
    KSPIN_DATAFLOW DataFlow;
    KSPIN_COMMUNICATION Communication;
    const GUID* Category;
    const GUID* Name;
    union {
        LONGLONG Reserved;
        struct {
            ULONG ConstrainedDataRangesCount;
            PKSDATARANGE* ConstrainedDataRanges;
        };
    };
} KSPIN_DESCRIPTOR, *PKSPIN_DESCRIPTOR;

typedef struct {
    const KSAUTOMATION_TABLE* AutomationTable;
    const GUID* Type;
    const GUID* Name;
#if UINTPTR_MAX == 0xFFFFFFFFu
    PVOID Alignment;
#endif
} KSNODE_DESCRIPTOR, *PKSNODE_DESCRIPTOR;

typedef struct _KSDEVICE KSDEVICE, *PKSDEVICE;
typedef struct _KSFILTERFACTORY KSFILTERFACTORY, *PKSFILTERFACTORY;
typedef struct _KSFILTER KSFILTER, *PKSFILTER;
typedef struct _KSPIN KSPIN, *PKSPIN;
typedef struct _KSSTREAM_POINTER KSSTREAM_POINTER, *PKSSTREAM_POINTER;
typedef struct _KSPROCESSPIN_INDEXENTRY KSPROCESSPIN_INDEXENTRY, *PKSPROCESSPIN_INDEXENTRY;
typedef struct _KSFILTER_DESCRIPTOR KSFILTER_DESCRIPTOR, *PKSFILTER_DESCRIPTOR;
typedef struct _KSPIN_DESCRIPTOR_EX KSPIN_DESCRIPTOR_EX, *PKSPIN_DESCRIPTOR_EX;
struct KSCLOCK_DISPATCH;
struct KSALLOCATOR_DISPATCH;

typedef NTSTATUS (*PFNKSPINIRP)(PKSPIN Pin, PIRP Irp);
typedef NTSTATUS (*PFNKSPIN)(PKSPIN Pin);
typedef void (*PFNKSPINVOID)(PKSPIN Pin);
typedef NTSTATUS (*PFNKSPINSETDATAFORMAT)(PKSPIN Pin, PKSDATAFORMAT OldFormat,
                                          PKSMULTIPLE_ITEM OldAttributeList,
                                          const KSDATARANGE* DataRange,
                                          const struct KSATTRIBUTE_LIST* AttributeRange);
typedef NTSTATUS (*PFNKSPINSETDEVICESTATE)(PKSPIN Pin, KSSTATE ToState, KSSTATE FromState);
typedef NTSTATUS (*PFNKSINTERSECTHANDLEREX)(PVOID Context, PIRP Irp, PKSP_PIN PinInstance,
                                            PKSDATARANGE CallerDataRange,
                                            PKSDATARANGE DescriptorDataRange, ULONG BufferSize,
                                            PVOID Data, PULONG DataSize);

typedef struct {
    PFNKSPINIRP Create;
    PFNKSPINIRP Close;
    PFNKSPIN Process;
    PFNKSPINVOID Reset;
    PFNKSPINSETDATAFORMAT SetDataFormat;
    PFNKSPINSETDEVICESTATE SetDeviceState;
    PFNKSPINVOID Connect;
    PFNKSPINVOID Disconnect;
    const struct KSCLOCK_DISPATCH* Clock;
    const struct KSALLOCATOR_DISPATCH* Allocator;
} KSPIN_DISPATCH, *PKSPIN_DISPATCH;

struct _KSPIN_DESCRIPTOR_EX {
    const KSPIN_DISPATCH* Dispatch;
    const KSAUTOMATION_TABLE* AutomationTable;
    KSPIN_DESCRIPTOR PinDescriptor;
    ULONG Flags;
    ULONG InstancesPossible;
    ULONG InstancesNecessary;
    const struct KSALLOCATOR_FRAMING_EX* AllocatorFraming;
    PFNKSINTERSECTHANDLEREX IntersectHandler;
};

#define KSFILTER_FLAG_DISPATCH_LEVEL_PROCESSING          0x00000001
#define KSFILTER_FLAG_CRITICAL_PROCESSING                0x00000002
#define KSFILTER_FLAG_HYPERCRITICAL_PROCESSING           0x00000004
#define KSFILTER_FLAG_RECEIVE_ZERO_LENGTH_SAMPLES        0x00000008
#define KSFILTER_FLAG_DENY_USERMODE_ACCESS               0x80000000

#define KSPIN_FLAG_DISPATCH_LEVEL_PROCESSING             0x00000001
#define KSPIN_FLAG_CRITICAL_PROCESSING                   0x00000002
#define KSPIN_FLAG_HYPERCRITICAL_PROCESSING              0x00000004
#define KSPIN_FLAG_ASYNCHRONOUS_PROCESSING               0x00000008
#define KSPIN_FLAG_DO_NOT_INITIATE_PROCESSING            0x00000010
#define KSPIN_FLAG_INITIATE_PROCESSING_ON_EVERY_ARRIVAL  0x00000020
#define KSPIN_FLAG_FRAMES_NOT_REQUIRED_FOR_PROCESSING    0x00000040
#define KSPIN_FLAG_ENFORCE_FIFO                          0x00000080
#define KSPIN_FLAG_GENERATE_MAPPINGS                     0x00000100
#define KSPIN_FLAG_DISTINCT_TRAILING_EDGE                0x00000200
#define KSPIN_FLAG_PROCESS_IN_RUN_STATE_ONLY             0x00010000
#define KSPIN_FLAG_SPLITTER                              0x00020000
#define KSPIN_FLAG_USE_STANDARD_TRANSPORT                0x00040000
#define KSPIN_FLAG_DO_NOT_USE_STANDARD_TRANSPORT         0x00080000
#define KSPIN_FLAG_FIXED_FORMAT                          0x00100000
#define KSPIN_FLAG_GENERATE_EOS_EVENTS                   0x00200000
#define KSPIN_FLAG_RENDERER                              0x00400000
#define KSPIN_FLAG_SOME_FRAMES_REQUIRED_FOR_PROCESSING   0x00800000
#define KSPIN_FLAG_PROCESS_IF_ANY_IN_RUN_STATE           0x01000000
#define KSPIN_FLAG_DENY_USERMODE_ACCESS                  0x80000000

typedef NTSTATUS (*PFNKSFILTERIRP)(PKSFILTER Filter, PIRP Irp);
typedef NTSTATUS (*PFNKSFILTERPROCESS)(PKSFILTER Filter, PKSPROCESSPIN_INDEXENTRY Index);
typedef NTSTATUS (*PFNKSFILTERVOID)(PKSFILTER Filter);
typedef void (*PFNKSFILTERFACTORYPOWER)(PKSFILTERFACTORY FilterFactory, DEVICE_POWER_STATE State);

typedef struct {
    PFNKSFILTERIRP Create;
    PFNKSFILTERIRP Close;
    PFNKSFILTERPROCESS Process;
    PFNKSFILTERVOID Reset;
} KSFILTER_DISPATCH, *PKSFILTER_DISPATCH;

#define KSFILTER_DESCRIPTOR_VERSION ((ULONG)-1)

struct _KSFILTER_DESCRIPTOR {
    const KSFILTER_DISPATCH* Dispatch;
    const KSAUTOMATION_TABLE* AutomationTable;
    ULONG Version;
    ULONG Flags;
    const GUID* ReferenceGuid;
    ULONG PinDescriptorsCount;
    ULONG PinDescriptorSize;  // bytes between pin descriptors
    const KSPIN_DESCRIPTOR_EX* PinDescriptors;
    ULONG CategoriesCount;
    const GUID* Categories;
    ULONG NodeDescriptorsCount;
    ULONG NodeDescriptorSize;  // bytes between node descriptors
    const KSNODE_DESCRIPTOR* NodeDescriptors;
    ULONG ConnectionsCount;
    const KSTOPOLOGY_CONNECTION* Connections;
    const KSCOMPONENTID* ComponentId;
};

typedef NTSTATUS (*PFNKSDEVICECREATE)(PKSDEVICE Device);
typedef NTSTATUS (*PFNKSDEVICEPNPSTART)(PKSDEVICE Device, PIRP Irp,
                                        PCM_RESOURCE_LIST TranslatedResourceList,
                                        PCM_RESOURCE_LIST UntranslatedResourceList);
typedef NTSTATUS (*PFNKSDEVICE)(PKSDEVICE Device);
typedef NTSTATUS (*PFNKSDEVICEIRP)(PKSDEVICE Device, PIRP Irp);
typedef void (*PFNKSDEVICEIRPVOID)(PKSDEVICE Device, PIRP Irp);
typedef NTSTATUS (*PFNKSDEVICEQUERYCAPABILITIES)(PKSDEVICE Device, PIRP Irp,
                                                 PDEVICE_CAPABILITIES Capabilities);
typedef NTSTATUS (*PFNKSDEVICEQUERYPOWER)(PKSDEVICE Device, PIRP Irp, DEVICE_POWER_STATE DeviceTo,
                                          DEVICE_POWER_STATE DeviceFrom,
                                          SYSTEM_POWER_STATE SystemTo,
                                          SYSTEM_POWER_STATE SystemFrom, POWER_ACTION Action);
typedef void (*PFNKSDEVICESETPOWER)(PKSDEVICE Device, PIRP Irp, DEVICE_POWER_STATE To,
                                    DEVICE_POWER_STATE From);

typedef struct {
    PFNKSDEVICECREATE Add;
    PFNKSDEVICEPNPSTART Start;
    PFNKSDEVICE PostStart;
    PFNKSDEVICEIRP QueryStop;
    PFNKSDEVICEIRPVOID CancelStop;
    PFNKSDEVICEIRPVOID Stop;
    PFNKSDEVICEIRP QueryRemove;
    PFNKSDEVICEIRPVOID CancelRemove;
    PFNKSDEVICEIRPVOID Remove;
    PFNKSDEVICEQUERYCAPABILITIES QueryCapabilities;
    PFNKSDEVICEIRPVOID SurpriseRemoval;
    PFNKSDEVICEQUERYPOWER QueryPower;
    PFNKSDEVICESETPOWER SetPower;
    PFNKSDEVICEIRP QueryInterface;
} KSDEVICE_DISPATCH, *PKSDEVICE_DISPATCH;

typedef struct {
    const KSDEVICE_DISPATCH* Dispatch;
    ULONG FilterDescriptorsCount;
    const KSFILTER_DESCRIPTOR* const* FilterDescriptors;
    ULONG Version;
} KSDEVICE_DESCRIPTOR, *PKSDEVICE_DESCRIPTOR;

// ---------------------------------------------------------------------------
// Objects
// ---------------------------------------------------------------------------
struct _KSDEVICE {
    const KSDEVICE_DESCRIPTOR* Descriptor;
    KSOBJECT_BAG Bag;
    PVOID Context;
    PDEVICE_OBJECT FunctionalDeviceObject;
    PDEVICE_OBJECT PhysicalDeviceObject;
    PDEVICE_OBJECT NextDeviceObject;
    BOOLEAN Started;
    SYSTEM_POWER_STATE SystemPowerState;
    DEVICE_POWER_STATE DevicePowerState;
};

struct _KSFILTERFACTORY {
    const KSFILTER_DESCRIPTOR* FilterDescriptor;
    KSOBJECT_BAG Bag;
    PVOID Context;
};

struct _KSFILTER {
    const KSFILTER_DESCRIPTOR* Descriptor;
    KSOBJECT_BAG Bag;
    PVOID Context;
};

struct _KSPIN {
    const KSPIN_DESCRIPTOR_EX* Descriptor;
    KSOBJECT_BAG Bag;
    PVOID Context;
    ULONG Id;
    KSPIN_COMMUNICATION Communication;
    BOOLEAN ConnectionIsExternal;
    KSPIN_INTERFACE ConnectionInterface;
    KSPIN_MEDIUM ConnectionMedium;
    KSPRIORITY ConnectionPriority;
    PKSDATAFORMAT ConnectionFormat;
    PKSMULTIPLE_ITEM AttributeList;
    ULONG StreamHeaderSize;
    KSPIN_DATAFLOW DataFlow;
    KSSTATE DeviceState;
    KSRESET ResetState;
    KSSTATE ClientState;
};

// Bytes of one frame seen through a stream pointer: Data advances and Remaining
// falls as the minidriver consumes or fills the frame.
typedef struct {
    PUCHAR Data;
#if UINTPTR_MAX == 0xFFFFFFFFu
    PVOID Alignment;
#endif
    ULONG Count;
    ULONG Remaining;
} KSSTREAM_POINTER_OFFSET, *PKSSTREAM_POINTER_OFFSET;

struct _KSSTREAM_POINTER {
    PVOID Context;
    PKSPIN Pin;
    PKSSTREAM_HEADER StreamHeader;
    PKSSTREAM_POINTER_OFFSET Offset;  // OffsetIn for a sink pin taking data, else OffsetOut
    KSSTREAM_POINTER_OFFSET OffsetIn;
    KSSTREAM_POINTER_OFFSET OffsetOut;
};

typedef enum {
    KSSTREAM_POINTER_STATE_UNLOCKED = 0,
    KSSTREAM_POINTER_STATE_LOCKED
} KSSTREAM_POINTER_STATE;

// ---------------------------------------------------------------------------
// Class driver entry points
// ---------------------------------------------------------------------------
NTSTATUS KsInitializeDriver(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPathName,
                            const KSDEVICE_DESCRIPTOR* Descriptor);

NTSTATUS KsAddItemToObjectBag(KSOBJECT_BAG ObjectBag, PVOID Item, PFNKSFREE Free);
ULONG KsRemoveItemFromObjectBag(KSOBJECT_BAG ObjectBag, PVOID Item, BOOLEAN Free);

void KsAcquireDevice(PKSDEVICE Device);
void KsReleaseDevice(PKSDEVICE Device);
void KsFilterAcquireControl(PKSFILTER Filter);
void KsFilterReleaseControl(PKSFILTER Filter);

NTSTATUS KsCreateFilterFactory(PDEVICE_OBJECT DeviceObject, const KSFILTER_DESCRIPTOR* Descriptor,
                               PWSTR RefString, PSECURITY_DESCRIPTOR SecurityDescriptor,
                               ULONG CreateItemFlags, PFNKSFILTERFACTORYPOWER SleepCallback,
                               PFNKSFILTERFACTORYPOWER WakeCallback,
                               PKSFILTERFACTORY* FilterFactory);
NTSTATUS KsFilterFactorySetDeviceClassesState(PKSFILTERFACTORY FilterFactory, BOOLEAN NewState);
PUNICODE_STRING KsFilterFactoryGetSymbolicLink(PKSFILTERFACTORY FilterFactory);

// Object tree: device → filter factories → filters → pins. Each takes any of
// the four objects.
PKSDEVICE KsGetDevice(PVOID Object);
PVOID KsGetParent(PVOID Object);
PVOID KsGetFirstChild(PVOID Object);
PVOID KsGetNextSibling(PVOID Object);
PKSFILTER KsPinGetParentFilter(PKSPIN Pin);
PKSFILTER KsGetFilterFromIrp(PIRP Irp);
PKSPIN KsGetPinFromIrp(PIRP Irp);
ULONG KsFilterGetChildPinCount(PKSFILTER Filter, ULONG PinId);
PKSPIN KsFilterGetFirstChildPin(PKSFILTER Filter, ULONG PinId);
PKSPIN KsPinGetNextSiblingPin(PKSPIN Pin);

inline PKSFILTERFACTORY KsDeviceGetFirstChildFilterFactory(PKSDEVICE Device)
{
    return (PKSFILTERFACTORY)KsGetFirstChild(Device);
}
inline PKSFILTERFACTORY KsFilterFactoryGetNextSiblingFilterFactory(PKSFILTERFACTORY FilterFactory)
{
    return (PKSFILTERFACTORY)KsGetNextSibling(FilterFactory);
}
inline PKSDEVICE KsFilterFactoryGetParentDevice(PKSFILTERFACTORY FilterFactory)
{
    return (PKSDEVICE)KsGetParent(FilterFactory);
}
inline PKSFILTER KsFilterFactoryGetFirstChildFilter(PKSFILTERFACTORY FilterFactory)
{
    return (PKSFILTER)KsGetFirstChild(FilterFactory);
}
inline PKSFILTER KsFilterGetNextSiblingFilter(PKSFILTER Filter)
{
    return (PKSFILTER)KsGetNextSibling(Filter);
}
inline PKSFILTERFACTORY KsFilterGetParentFilterFactory(PKSFILTER Filter)
{
    return (PKSFILTERFACTORY)KsGetParent(Filter);
}
inline PKSDEVICE KsFilterGetDevice(PKSFILTER Filter) { return KsGetDevice(Filter); }
inline PKSDEVICE KsPinGetDevice(PKSPIN Pin) { return KsGetDevice(Pin); }
inline PKSDEVICE KsFilterFactoryGetDevice(PKSFILTERFACTORY FilterFactory)
{
    return KsGetDevice(FilterFactory);
}

// Events. Object is a filter or a pin; every enabled event of the set and id
// on it is signalled (those the callback, when given, accepts).
void KsGenerateEvents(PVOID Object, const GUID* EventSet, ULONG EventId, ULONG DataSize,
                      PVOID Data, PFNKSGENERATEEVENTCALLBACK CallBack, PVOID CallBackContext);
NTSTATUS KsDefaultAddEventHandler(PIRP Irp, PKSEVENTDATA EventData, PKSEVENT_ENTRY EventEntry);

// Stream queue and processing.
PKSSTREAM_POINTER KsPinGetLeadingEdgeStreamPointer(PKSPIN Pin, KSSTREAM_POINTER_STATE State);
NTSTATUS KsStreamPointerLock(PKSSTREAM_POINTER StreamPointer);
void KsStreamPointerUnlock(PKSSTREAM_POINTER StreamPointer, BOOLEAN Eject);
NTSTATUS KsStreamPointerAdvanceOffsets(PKSSTREAM_POINTER StreamPointer, ULONG InUsed,
                                       ULONG OutUsed, BOOLEAN Eject);
NTSTATUS KsStreamPointerAdvanceOffsetsAndUnlock(PKSSTREAM_POINTER StreamPointer, ULONG InUsed,
                                                ULONG OutUsed, BOOLEAN Eject);
// The status the request of the pointer's frame completes with (a cancel
// still wins). The pointer must be locked.
NTSTATUS KsStreamPointerSetStatusCode(PKSSTREAM_POINTER StreamPointer, NTSTATUS Status);
void KsPinAttemptProcessing(PKSPIN Pin, BOOLEAN Asynchronous);
