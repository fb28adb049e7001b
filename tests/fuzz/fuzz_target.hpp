#pragma once
// Fuzz targets: each takes one input's bytes, drives one entry point of the library the way a
// caller does, and checks what must hold whatever the input. libFuzzer reaches a target through
// LLVMFuzzerTestOneInput (libfuzzer_main.cpp); the replay test runs the stored regression inputs
// and each target's built-in seeds through the very same function.
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kuv::fuzz {

// A property that must hold for every input does not.
class Broken : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

inline void require(bool holds, const std::string& what) {
    if (!holds) throw Broken(what);
}

struct Target {
    std::string_view name;  // also names the folder of its regression inputs
    void (*run)(std::string_view input);
    std::vector<std::string> (*seeds)();  // small valid inputs that reach deep into the entry point
    // What the input gives, in the words of a stored input's ".expected" file; nullptr for a
    // target whose inputs carry no expectation.
    std::string (*describe)(std::string_view input) = nullptr;
};

// One per harness file.
extern const Target kExtractPage, kJson, kQueryText, kGraphFile, kPrice, kBuilder;

std::span<const Target* const> targets();
// The target called `name`; nullptr when there is none.
const Target* find_target(std::string_view name);

}  // namespace kuv::fuzz
