// Runs a test body once per kernel set this processor can execute, so that
// every dispatch path is compared with the reference, not only the best one.
#pragma once

#include <gtest/gtest.h>

#include "pcm/PcmKernels.h"

template <class Body>
void ForEachPcmKernelSet(Body&& body) {
    const PcmKernelSet supported = SupportedPcmKernels();
    for (PcmKernelSet set : {PcmKernelSet::kPortable, PcmKernelSet::kSse2, PcmKernelSet::kAvx2}) {
        if (static_cast<int>(set) > static_cast<int>(supported)) {
            continue;
        }
        ASSERT_EQ(set, SelectPcmKernels(set));
        SCOPED_TRACE(PcmKernelSetName(set));
        body();
        if (::testing::Test::HasFatalFailure()) {
            break;
        }
    }
    SelectPcmKernels(supported);
}
