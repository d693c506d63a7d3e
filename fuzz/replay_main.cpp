// The fuzz targets' entry where there is no libFuzzer (GCC): each input
// named on the command line, or each file of a folder named there, goes
// through the target once, under the build's sanitizers, which stop the run
// at the first fault. Options in libFuzzer's form are passed over, so the
// command lines of a fuzzing run replay its inputs unchanged.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

bool replay(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
  if (!in && !in.eof()) {
    std::fprintf(stderr, "cannot read %s\n", file.c_str());
    return false;
  }
  // A block of exactly the input's size, so a read past its end is caught.
  const auto data = std::make_unique<uint8_t[]>(bytes.size());
  std::copy(bytes.begin(), bytes.end(), data.get());
  LLVMFuzzerTestOneInput(data.get(), bytes.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.starts_with("-")) continue;
    std::error_code error;
    if (!fs::is_directory(arg, error)) {
      inputs.emplace_back(arg);
      continue;
    }
    std::vector<fs::path> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(arg, error))
      if (entry.is_regular_file()) files.push_back(entry.path());
    if (error) {
      std::fprintf(stderr, "cannot list %s: %s\n", arg.c_str(), error.message().c_str());
      return 1;
    }
    std::sort(files.begin(), files.end());
    inputs.insert(inputs.end(), files.begin(), files.end());
  }
  for (const fs::path& input : inputs)
    if (!replay(input)) return 1;
  std::printf("replayed %zu inputs\n", inputs.size());
  return 0;
}
