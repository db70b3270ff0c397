// The list builder's logic links no Qt: its models reach the window thread
// only through the platform layer's facade. Should a dependency bring Qt in
// again, its libraries are mapped into this very test program.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace kv {
namespace {

TEST(NoQt, TheTestProgramMapsNoQtLibrary) {
  std::ifstream maps("/proc/self/maps");
  ASSERT_TRUE(maps.is_open());
  std::vector<std::string> qt;
  int lines = 0;
  for (std::string line; std::getline(maps, line); ++lines)
    if (line.find("/libQt6") != std::string::npos) qt.push_back(line);
  ASSERT_GT(lines, 0);
  EXPECT_TRUE(qt.empty()) << "mapped: " << qt.front();
}

}  // namespace
}  // namespace kv
