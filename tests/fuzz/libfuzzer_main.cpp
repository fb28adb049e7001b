// The libFuzzer entry of one target, chosen at build time by KUV_FUZZ_TARGET (its name). Any
// exception that leaves the target (a broken property, an internal failure) is a finding: it is
// printed and the process aborts, so libFuzzer keeps the input as a crash.
#include "fuzz_target.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>

namespace {

const kuv::fuzz::Target& the_target() {
    static const kuv::fuzz::Target* target = kuv::fuzz::find_target(KUV_FUZZ_TARGET);
    if (target == nullptr) {
        std::fprintf(stderr, "no fuzz target named %s\n", KUV_FUZZ_TARGET);
        std::abort();
    }
    return *target;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const kuv::fuzz::Target& target = the_target();
    try {
        target.run({reinterpret_cast<const char*>(data), size});
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "fuzz target %s: %s\n", KUV_FUZZ_TARGET, failure.what());
        std::abort();
    }
    return 0;
}
