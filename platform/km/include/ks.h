// Kernel-streaming declarations: the published records, constants and the
// class driver's entry points that a streaming minidriver calls. Records keep
// the published layout of the build's word size.
#pragma once

#include <wdm.h>

// ---------------------------------------------------------------------------
// Identifiers and requests
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
        struct {
            GUID Set;
            ULONG Id;
            ULONG Flags;
        };
        LONGLONG Alignment;
    };
} KSIDENTIFIER, *PKSIDENTIFIER;

typedef KSIDENTIFIER KSPROPERTY, *PKSPROPERTY;
typedef KSIDENTIFIER KSMETHOD, *PKSMETHOD;
typedef KSIDENTIFIER KSEVENT, *PKSEVENT;
typedef KSIDENTIFIER KSPIN_INTERFACE, *PKSPIN_INTERFACE;
typedef KSIDENTIFIER KSPIN_MEDIUM, *PKSPIN_MEDIUM;

#define KSPROPERTY_TYPE_GET             0x00000001
#define KSPROPERTY_TYPE_SET             0x00000002
#define KSPROPERTY_TYPE_SETSUPPORT      0x00000100
#define KSPROPERTY_TYPE_BASICSUPPORT    0x00000200
#define KSPROPERTY_TYPE_RELATIONS       0x00000400
#define KSPROPERTY_TYPE_SERIALIZESET    0x00000800
#define KSPROPERTY_TYPE_UNSERIALIZESET  0x00001000
#define KSPROPERTY_TYPE_SERIALIZERAW    0x00002000
#define KSPROPERTY_TYPE_UNSERIALIZERAW  0x00004000
#define KSPROPERTY_TYPE_SERIALIZESIZE   0x00008000
#define KSPROPERTY_TYPE_DEFAULTVALUES   0x00010000
#define KSPROPERTY_TYPE_TOPOLOGY        0x10000000

#define KSMETHOD_TYPE_NONE              0x00000000
#define KSMETHOD_TYPE_READ              0x00000001
#define KSMETHOD_TYPE_WRITE             0x00000002
#define KSMETHOD_TYPE_MODIFY            0x00000003
#define KSMETHOD_TYPE_SOURCE            0x00000004
#define KSMETHOD_TYPE_SEND              0x00000001
#define KSMETHOD_TYPE_SETSUPPORT        0x00000100
#define KSMETHOD_TYPE_BASICSUPPORT      0x00000200
#define KSMETHOD_TYPE_TOPOLOGY          0x10000000

#define KSEVENT_TYPE_ENABLE             0x00000001
#define KSEVENT_TYPE_ONESHOT            0x00000002
#define KSEVENT_TYPE_ENABLEBUFFERED     0x00000004
#define KSEVENT_TYPE_SETSUPPORT         0x00000100
#define KSEVENT_TYPE_BASICSUPPORT       0x00000200
#define KSEVENT_TYPE_QUERYBUFFER        0x00000400
#define KSEVENT_TYPE_TOPOLOGY           0x10000000

// Property request addressed to one pin of a filter.
typedef struct {
    KSPROPERTY Property;
    ULONG PinId;
    union {
        ULONG Reserved;
        ULONG Flags;
    };
} KSP_PIN, *PKSP_PIN;

// Property request addressed to one node of a filter's topology.
typedef struct {
    KSPROPERTY Property;
    ULONG NodeId;
    ULONG Reserved;
} KSP_NODE, *PKSP_NODE;

typedef struct {
    KSMETHOD Method;
    ULONG NodeId;
    ULONG Reserved;
} KSM_NODE, *PKSM_NODE;

typedef struct {
    KSEVENT Event;
    ULONG NodeId;
    ULONG Reserved;
} KSE_NODE, *PKSE_NODE;

// Header of a variable list: Size counts the header and every item in bytes.
typedef struct {
    ULONG Size;
    ULONG Count;
} KSMULTIPLE_ITEM, *PKSMULTIPLE_ITEM;

typedef struct {
    ULONG AccessFlags;
    ULONG DescriptionSize;
    KSIDENTIFIER PropTypeSet;
    ULONG MembersListCount;
    ULONG Reserved;
} KSPROPERTY_DESCRIPTION, *PKSPROPERTY_DESCRIPTION;

// ---------------------------------------------------------------------------
// Formats and ranges
// ---------------------------------------------------------------------------
typedef union {
    struct {
        ULONG FormatSize;  // bytes, this header and the specifier's data after it
        ULONG Flags;
        ULONG SampleSize;
        ULONG Reserved;
        GUID MajorFormat;
        GUID SubFormat;
        GUID Specifier;
    };
    LONGLONG Alignment;
} KSDATAFORMAT, *PKSDATAFORMAT, KSDATARANGE, *PKSDATARANGE;

#define KSDATAFORMAT_BIT_TEMPORAL_COMPRESSION 0
#define KSDATAFORMAT_TEMPORAL_COMPRESSION (1 << KSDATAFORMAT_BIT_TEMPORAL_COMPRESSION)
#define KSDATAFORMAT_BIT_ATTRIBUTES 1
#define KSDATAFORMAT_ATTRIBUTES (1 << KSDATAFORMAT_BIT_ATTRIBUTES)
#define KSDATARANGE_BIT_ATTRIBUTES 1
#define KSDATARANGE_ATTRIBUTES (1 << KSDATARANGE_BIT_ATTRIBUTES)
#define KSDATARANGE_BIT_REQUIRED_ATTRIBUTES 2
#define KSDATARANGE_REQUIRED_ATTRIBUTES (1 << KSDATARANGE_BIT_REQUIRED_ATTRIBUTES)

typedef struct {
    ULONG Flags;
    GUID Attribute;
} KSATTRIBUTE, *PKSATTRIBUTE;

struct KSATTRIBUTE_LIST;
typedef struct KSATTRIBUTE_LIST* PKSATTRIBUTE_LIST;

// ---------------------------------------------------------------------------
// Connections, states, stream headers
// ---------------------------------------------------------------------------
typedef enum {
    KSPIN_DATAFLOW_IN = 1,
    KSPIN_DATAFLOW_OUT
} KSPIN_DATAFLOW, *PKSPIN_DATAFLOW;

typedef enum {
    KSPIN_COMMUNICATION_NONE,
    KSPIN_COMMUNICATION_SINK,
    KSPIN_COMMUNICATION_SOURCE,
    KSPIN_COMMUNICATION_BOTH,
    KSPIN_COMMUNICATION_BRIDGE
} KSPIN_COMMUNICATION, *PKSPIN_COMMUNICATION;

typedef enum {
    KSSTATE_STOP,
    KSSTATE_ACQUIRE,
    KSSTATE_PAUSE,
    KSSTATE_RUN
} KSSTATE, *PKSSTATE;

typedef enum {
    KSRESET_BEGIN,
    KSRESET_END
} KSRESET;

#define KSPRIORITY_LOW        0x00000001
#define KSPRIORITY_NORMAL     0x40000000
#define KSPRIORITY_HIGH       0x80000000
#define KSPRIORITY_EXCLUSIVE  0xFFFFFFFF

typedef struct {
    ULONG PriorityClass;
    ULONG PrioritySubClass;
} KSPRIORITY, *PKSPRIORITY;

// The pin-create request; its KSDATAFORMAT (and the format's specifier data)
// follows it directly in the create buffer.
typedef struct {
    KSPIN_INTERFACE Interface;
    KSPIN_MEDIUM Medium;
    ULONG PinId;
    HANDLE PinToHandle;
    KSPRIORITY Priority;
} KSPIN_CONNECT, *PKSPIN_CONNECT;

typedef struct {
    ULONG PossibleCount;
    ULONG CurrentCount;
} KSPIN_CINSTANCES, *PKSPIN_CINSTANCES;

typedef enum {
    KSINTERFACE_STANDARD_STREAMING,
    KSINTERFACE_STANDARD_LOOPED_STREAMING,
    KSINTERFACE_STANDARD_CONTROL
} KSINTERFACE_STANDARD;

#define KSMEDIUM_TYPE_ANYINSTANCE 0
#define KSMEDIUM_STANDARD_DEVIO KSMEDIUM_TYPE_ANYINSTANCE

#define KSINSTANCE_INDETERMINATE ((ULONG)-1)
#define KSFILTER_NODE ((ULONG)-1)
#define KSALL_NODES ((ULONG)-1)

typedef struct {
    LONGLONG Time;
    ULONG Numerator;
    ULONG Denominator;
} KSTIME, *PKSTIME;

typedef struct {
    ULONG Size;  // bytes of this header and any extension after it
    ULONG TypeSpecificFlags;
    KSTIME PresentationTime;
    LONGLONG Duration;
    ULONG FrameExtent;  // bytes available at Data
    ULONG DataUsed;     // bytes valid at Data
    PVOID Data;
    ULONG OptionsFlags;
#if UINTPTR_MAX > 0xFFFFFFFFu
    ULONG Reserved;
#endif
} KSSTREAM_HEADER, *PKSSTREAM_HEADER;

#define KSSTREAM_HEADER_OPTIONSF_SPLICEPOINT        0x00000001
#define KSSTREAM_HEADER_OPTIONSF_PREROLL            0x00000002
#define KSSTREAM_HEADER_OPTIONSF_DATADISCONTINUITY  0x00000004
#define KSSTREAM_HEADER_OPTIONSF_TYPECHANGED        0x00000008
#define KSSTREAM_HEADER_OPTIONSF_TIMEVALID          0x00000010
#define KSSTREAM_HEADER_OPTIONSF_TIMEDISCONTINUITY  0x00000040
#define KSSTREAM_HEADER_OPTIONSF_FLUSHONPAUSE       0x00000080
#define KSSTREAM_HEADER_OPTIONSF_DURATIONVALID      0x00000100
#define KSSTREAM_HEADER_OPTIONSF_ENDOFSTREAM        0x00000200
#define KSSTREAM_HEADER_OPTIONSF_BUFFEREDTRANSFER   0x00000400
#define KSSTREAM_HEADER_OPTIONSF_LOOPEDDATA         0x80000000

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

typedef struct {
    ULONG FromNode;
    ULONG FromNodePin;
    ULONG ToNode;
    ULONG ToNodePin;
} KSTOPOLOGY_CONNECTION, *PKSTOPOLOGY_CONNECTION;

typedef struct {
    GUID Manufacturer;
    GUID Product;
    GUID Component;
    GUID Name;
    ULONG Version;
    ULONG Revision;
} KSCOMPONENTID, *PKSCOMPONENTID;

// ---------------------------------------------------------------------------
// Events
// ---------------------------------------------------------------------------
#define KSEVENTF_EVENT_HANDLE      0x00000001
#define KSEVENTF_SEMAPHORE_HANDLE  0x00000002
#define KSEVENTF_EVENT_OBJECT      0x00000004
#define KSEVENTF_SEMAPHORE_OBJECT  0x00000008
#define KSEVENTF_DPC               0x00000010
#define KSEVENTF_WORKITEM          0x00000020
#define KSEVENTF_KSWORKITEM        0x00000080

// What the client wants done when the event fires. In the kernel emulation
// EventHandle.Event is the PKEVENT to signal.
typedef struct {
    ULONG NotificationType;
    union {
        struct {
            HANDLE Event;
            ULONG_PTR Reserved[2];
        } EventHandle;
        struct {
            HANDLE Semaphore;
            ULONG Reserved;
            LONG Adjustment;
        } SemaphoreHandle;
        struct {
            PVOID Event;
            KPRIORITY Increment;
            ULONG_PTR Reserved;
        } EventObject;
        struct {
            PVOID Semaphore;
            KPRIORITY Increment;
            LONG Adjustment;
        } SemaphoreObject;
        struct {
            PVOID Dpc;
            ULONG ReferenceCount;
            ULONG_PTR Reserved;
        } Dpc;
        struct {
            PVOID WorkQueueItem;
            ULONG WorkQueueType;
            ULONG_PTR Reserved;
        } WorkItem;
        struct {
            PVOID Unused;
            LONG_PTR Alignment[2];
        } Alignment;
    };
} KSEVENTDATA, *PKSEVENTDATA;

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
// Control codes
// ---------------------------------------------------------------------------
#define IOCTL_KS_PROPERTY       CTL_CODE(FILE_DEVICE_KS, 0x000, METHOD_NEITHER, FILE_ANY_ACCESS)
#define IOCTL_KS_ENABLE_EVENT   CTL_CODE(FILE_DEVICE_KS, 0x001, METHOD_NEITHER, FILE_ANY_ACCESS)
#define IOCTL_KS_DISABLE_EVENT  CTL_CODE(FILE_DEVICE_KS, 0x002, METHOD_NEITHER, FILE_ANY_ACCESS)
#define IOCTL_KS_METHOD         CTL_CODE(FILE_DEVICE_KS, 0x003, METHOD_NEITHER, FILE_ANY_ACCESS)
#define IOCTL_KS_WRITE_STREAM   CTL_CODE(FILE_DEVICE_KS, 0x004, METHOD_NEITHER, FILE_WRITE_ACCESS)
#define IOCTL_KS_READ_STREAM    CTL_CODE(FILE_DEVICE_KS, 0x005, METHOD_NEITHER, FILE_READ_ACCESS)
#define IOCTL_KS_RESET_STATE    CTL_CODE(FILE_DEVICE_KS, 0x006, METHOD_NEITHER, FILE_ANY_ACCESS)

// ---------------------------------------------------------------------------
// Sets, names and GUIDs
// ---------------------------------------------------------------------------
DEFINE_GUID(GUID_NULL, 0x00000000, 0x0000, 0x0000, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00);

#define KSDATAFORMAT_TYPE_WILDCARD GUID_NULL
#define KSDATAFORMAT_SUBTYPE_WILDCARD GUID_NULL
#define KSDATAFORMAT_SPECIFIER_WILDCARD GUID_NULL
DEFINE_GUID(KSDATAFORMAT_TYPE_STREAM, 0xE436EB83, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
DEFINE_GUID(KSDATAFORMAT_SUBTYPE_NONE, 0xE436EB8E, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
DEFINE_GUID(KSDATAFORMAT_SPECIFIER_FILENAME, 0xAA797B40, 0xE974, 0x11CF, 0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00);
DEFINE_GUID(KSDATAFORMAT_SPECIFIER_NONE, 0x0F6417D6, 0xC318, 0x11D0, 0xA4, 0x3F, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96);

DEFINE_GUID(KSINTERFACESETID_Standard, 0x1A8766A0, 0x62CE, 0x11CF, 0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00);
DEFINE_GUID(KSMEDIUMSETID_Standard, 0x4747B320, 0x62CE, 0x11CF, 0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00);

DEFINE_GUID(KSPROPSETID_General, 0x1464EDA5, 0x6A8F, 0x11D1, 0x9A, 0xA7, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96);
typedef enum {
    KSPROPERTY_GENERAL_COMPONENTID
} KSPROPERTY_GENERAL;

DEFINE_GUID(KSPROPSETID_Pin, 0x8C134960, 0x51AD, 0x11CF, 0x87, 0x8A, 0x94, 0xF8, 0x01, 0xC1, 0x00, 0x00);
typedef enum {
    KSPROPERTY_PIN_CINSTANCES,
    KSPROPERTY_PIN_CTYPES,
    KSPROPERTY_PIN_DATAFLOW,
    KSPROPERTY_PIN_DATARANGES,
    KSPROPERTY_PIN_DATAINTERSECTION,
    KSPROPERTY_PIN_INTERFACES,
    KSPROPERTY_PIN_MEDIUMS,
    KSPROPERTY_PIN_COMMUNICATION,
    KSPROPERTY_PIN_GLOBALCINSTANCES,
    KSPROPERTY_PIN_NECESSARYINSTANCES,
    KSPROPERTY_PIN_PHYSICALCONNECTION,
    KSPROPERTY_PIN_CATEGORY,
    KSPROPERTY_PIN_NAME,
    KSPROPERTY_PIN_CONSTRAINEDDATARANGES,
    KSPROPERTY_PIN_PROPOSEDATAFORMAT
} KSPROPERTY_PIN;

DEFINE_GUID(KSPROPSETID_Topology, 0x720D4AC0, 0x7533, 0x11D0, 0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00);
typedef enum {
    KSPROPERTY_TOPOLOGY_CATEGORIES,
    KSPROPERTY_TOPOLOGY_NODES,
    KSPROPERTY_TOPOLOGY_CONNECTIONS,
    KSPROPERTY_TOPOLOGY_NAME
} KSPROPERTY_TOPOLOGY;

DEFINE_GUID(KSPROPSETID_Connection, 0x1D58C920, 0xAC9B, 0x11CF, 0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00);
typedef enum {
    KSPROPERTY_CONNECTION_STATE,
    KSPROPERTY_CONNECTION_PRIORITY,
    KSPROPERTY_CONNECTION_DATAFORMAT,
    KSPROPERTY_CONNECTION_ALLOCATORFRAMING,
    KSPROPERTY_CONNECTION_PROPOSEDATAFORMAT,
    KSPROPERTY_CONNECTION_ACQUIREORDERING,
    KSPROPERTY_CONNECTION_ALLOCATORFRAMING_EX,
    KSPROPERTY_CONNECTION_STARTAT
} KSPROPERTY_CONNECTION;

DEFINE_GUID(KSPROPSETID_Stream, 0x65AABA60, 0x98AE, 0x11CF, 0xA1, 0x0D, 0x00, 0x20, 0xAF, 0xD1, 0x56, 0xE4);

DEFINE_GUID(KSCATEGORY_BRIDGE, 0x085AFF00, 0x62CE, 0x11CF, 0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00);
DEFINE_GUID(KSCATEGORY_CAPTURE, 0x65E8773D, 0x8F56, 0x11D0, 0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96);
DEFINE_GUID(KSCATEGORY_RENDER, 0x65E8773E, 0x8F56, 0x11D0, 0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96);

// Create-request names: the pin-create name is KSNAME_Pin, a backslash and
// the KSPIN_CONNECT with its format.
#define KSSTRING_Filter u"{9B365890-165F-11D0-A195-0020AFD156E4}"
#define KSSTRING_Pin u"{146F1A80-4791-11D0-A5D6-28DB04C10000}"
#define KSSTRING_Clock u"{53172480-4791-11D0-A5D6-28DB04C10000}"
#define KSSTRING_Allocator u"{642F5D00-4791-11D0-A5D6-28DB04C10000}"
DEFINE_GUID(KSNAME_Filter, 0x9B365890, 0x165F, 0x11D0, 0xA1, 0x95, 0x00, 0x20, 0xAF, 0xD1, 0x56, 0xE4);
DEFINE_GUID(KSNAME_Pin, 0x146F1A80, 0x4791, 0x11D0, 0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00);
DEFINE_GUID(KSNAME_Clock, 0x53172480, 0x4791, 0x11D0, 0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00);
DEFINE_GUID(KSNAME_Allocator, 0x642F5D00, 0x4791, 0x11D0, 0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00);

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
                               PCWSTR RefString, PSECURITY_DESCRIPTOR SecurityDescriptor,
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
void KsPinAttemptProcessing(PKSPIN Pin, BOOLEAN Asynchronous);
