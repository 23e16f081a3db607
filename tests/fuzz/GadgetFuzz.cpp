// The gadget's command wrapper and its target: a wrapper is taken only when well formed, and
// what the target answers never passes the host's buffer.
#include <cstdint>
#include <cstring>
#include <vector>

#include "tests/e2e/gadget/MassStorageTarget.h"
#include "tests/fuzz/FuzzCheck.h"

using namespace brev::gadget;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto cbw = ParseCbw(data, size);
    if (!cbw) return 0;
    uint32_t signature = 0;
    std::memcpy(&signature, data, 4);
    FUZZ_CHECK(size == kCbwSize && signature == kCbwSignature);
    FUZZ_CHECK(cbw->lun == 0 && cbw->cdbLength >= 1 && cbw->cdbLength <= 16);
    for (size_t i = cbw->cdbLength; i < 16; ++i) FUZZ_CHECK(cbw->cdb[i] == 0);

    static brev::sim::SimDevice device{brev::sim::SimDeviceConfig{}};
    TargetOptions options;
    options.blockCount = 64;
    MassStorageTarget target(device, options);
    // The host's buffer, cut to what the fuzzer may afford; the wrapper says how much.
    Cbw bounded = *cbw;
    bounded.dataLength = cbw->dataLength % (256 * 1024 + 1);
    std::vector<uint8_t> buffer(bounded.dataLength);
    const CommandOutcome out = target.Execute(bounded, buffer.empty() ? nullptr : buffer.data());
    FUZZ_CHECK(out.dataBytes <= bounded.dataLength);
    return 0;
}
