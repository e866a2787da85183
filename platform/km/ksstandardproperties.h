// The properties the class driver answers from the descriptors themselves:
// the pin and topology sets on filters, the connection state and format on
// pins, the component id. A minidriver's own automation-table item for the
// same set and id takes precedence.
#pragma once

#include "km/ksobjects.h"

#include <cstdint>
#include <vector>

namespace kmsim::ks {

struct PropertyContext {
    PIRP irp = nullptr;
    Filter* filter = nullptr;
    Pin* pin = nullptr;                // null for requests on the filter
    const uint8_t* request = nullptr;  // captured, 8-byte aligned
    ULONG requestBytes = 0;
};

// The whole value of a get; the caller applies the size-query protocol.
using StandardGetter = NTSTATUS (*)(const PropertyContext& context, std::vector<uint8_t>* value);
using StandardSetter = NTSTATUS (*)(const PropertyContext& context, const uint8_t* data, ULONG bytes);

struct StandardProperty {
    const GUID* set;
    ULONG id;
    bool onPin;  // served on pin handles, else on filter handles
    ULONG minProperty;
    ULONG minData;  // for sets
    StandardGetter get;
    StandardSetter put;
};

const StandardProperty* FindStandardProperty(const GUID& set, ULONG id, bool onPin);

}  // namespace kmsim::ks
