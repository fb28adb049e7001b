// The libFuzzer entry of one target, chosen at build time by KUV_FUZZ_TARGET (its name). Any
// exception that leaves the target (a broken property, an internal failure) is a finding: it is
// printed and the process aborts, so libFuzzer keeps the input as a crash.
#include "fuzz_target.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const kuv::fuzz::Target* const target = kuv::fuzz::find_target(KUV_FUZZ_TARGET);
    try {
        if (target == nullptr) throw std::invalid_argument("no fuzz target of that name");
        target->run({reinterpret_cast<const char*>(data), size});
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "fuzz target %s: %s\n", KUV_FUZZ_TARGET, failure.what());
        std::abort();
    }
    return 0;
}
