// A test bed with one product plugged in and a client of its filter: where
// most tests of the driver's pins start.
#pragma once

#include "drivertestbed.h"

#include <gtest/gtest.h>

#include <cstdint>

template <uint16_t Product, typename Base = testing::Test>
class PluggedFilter : public Base {
protected:
    void SetUp() override
    {
        ASSERT_EQ(bed.Plug(Product), STATUS_SUCCESS);
        filter = bed.OpenFilter();
        ASSERT_NE(filter, nullptr);
    }

    DriverTestBed bed;
    kmsim::KsClientHandle* filter = nullptr;
};
