// The factory bank's files are patches exactly as Save writes them: opened
// and saved again, by the program and by a host without a window, each
// gives back its own bytes, so a sound chosen from the bank and saved is the
// sound shipped.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "patches/patch.h"
#include "test_support.h"

namespace ondelith {
namespace {

namespace fs = std::filesystem;

const fs::path kBankDir = fs::path(ONDELITH_SOURCE_DIR) / "data" / "sounds";

// The files the bank list names, in its order.
std::vector<fs::path> bankFiles() {
  std::ifstream list(kBankDir / "bank.list");
  std::vector<fs::path> files;
  std::string line;
  while (std::getline(list, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string number, category, name, path;
    std::getline(fields, number, '\t');
    std::getline(fields, category, '\t');
    std::getline(fields, name, '\t');
    std::getline(fields, path, '\t');
    files.push_back(kBankDir / path);
  }
  return files;
}

TEST(SoundBank, EveryFileIsWhatSaveWritesAfterOpeningIt) {
  const std::vector<fs::path> files = bankFiles();
  ASSERT_GE(files.size(), 32u);
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.string());
    const std::string bytes = test::slurp(file);
    const PatchValues values = parsePatch(bytes);

    auto synth = test::makeSynth();
    applyPatch(*synth, values);
    EXPECT_EQ(formatPatch(capturePatch(*synth)), bytes) << "the program's Open then Save";

    HostControls controls;
    Engine engine;
    std::vector<CurvePoint> buffer;
    applyPatchValues(controls, engine, values, buffer);
    EXPECT_EQ(formatPatch(capturePatchValues(controls, engine, buffer)), bytes)
        << "a host's Open then Save";
  }
}

}  // namespace
}  // namespace ondelith
