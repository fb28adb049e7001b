// Writes one target's built-in seeds into a folder, as the start of a fuzzing corpus:
// write_fuzz_seeds <target> <folder>.
#include "fuzz_target.hpp"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
    const kuv::fuzz::Target* target = argc == 3 ? kuv::fuzz::find_target(argv[1]) : nullptr;
    if (target == nullptr) {
        std::fprintf(stderr, "usage: write_fuzz_seeds <target> <folder>\n");
        return 2;
    }
    const std::filesystem::path folder = argv[2];
    std::filesystem::create_directories(folder);
    const std::vector<std::string> seeds = target->seeds();
    for (std::size_t i = 0; i < seeds.size(); ++i) {
        std::ofstream(folder / ("seed" + std::to_string(i)), std::ios::binary) << seeds[i];
    }
    return 0;
}
