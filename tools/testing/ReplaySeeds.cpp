// The main() of a fuzz target built without libFuzzer: runs the target once on every file of the
// folders given, so that every build checks the target's properties on its seeds.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
// Defined only by the targets that prepare something once, as libFuzzer allows.
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
  int seeds = 0;
  for (int folder = 1; folder < argc; ++folder) {
    for (const auto& entry : std::filesystem::directory_iterator(argv[folder])) {
      std::ifstream file(entry.path(), std::ios::binary);
      const std::vector<std::uint8_t> bytes(std::istreambuf_iterator<char>(file), {});
      // Named first, so that a seed which fails its target's checks is the last one shown.
      std::printf("%s\n", entry.path().c_str());
      std::fflush(stdout);
      LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
      ++seeds;
    }
  }
  return seeds > 0 ? 0 : 1;  // no seeds would test nothing
}
