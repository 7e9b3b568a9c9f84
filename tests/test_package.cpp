// The installed package: headers, library, CMake package and pkg-config
// file, used by a program built elsewhere as its author would build it.
#include <gtest/gtest.h>

#include <cstdlib>

#include "support.h"

namespace {

const char kVector[] = VECTOR_DIR "/talker_16k.in.pcm";

int Shell(const std::string& command) { return system((command + " >/dev/null 2>&1").c_str()); }

std::string Q(const std::string& s) { return "'" + s + "'"; }

TEST(Package, ConsumersBuiltWithFindPackageAndPkgConfigGivePcmbeamsOutput) {
  const std::string dir = TempDir(), prefix = dir + "/prefix", build = dir + "/build";
  ASSERT_EQ(Shell(Q(CMAKE_COMMAND_EXE) + " --install " + Q(BUILD_DIR) + " --component micarray_dev --prefix " +
                  Q(prefix)),
            0);
  for (const char* file : {"include/micarray/micarray.h", "include/micarray/fixed.h", "include/micarray/micarray.hpp",
                           "lib/libmicarray.a", "lib/cmake/micarray/micarrayConfig.cmake",
                           "lib/cmake/micarray/micarrayConfigVersion.cmake", "lib/pkgconfig/micarray.pc"})
    EXPECT_TRUE(FileExists(prefix + "/" + file)) << file;
  for (const char* file : {"include/micarray/com_struct.h", "include/micarray/micarray_core.h",
                           "include/micarray/uperation.h", "bin/micbeam"})
    EXPECT_FALSE(FileExists(prefix + "/" + file)) << file;

  ASSERT_EQ(::Run(PCMBEAM_EXE, {"0.05", "0.07", "-15", "0.9", "0.98", "16000", kVector, dir + "/pcmbeam.pcm"}).status,
            0);
  ASSERT_EQ(Shell(Q(CMAKE_COMMAND_EXE) + " -S " + Q(CONSUMER_DIR) + " -B " + Q(build) + " -DCMAKE_PREFIX_PATH=" +
                  Q(prefix) + " -DCMAKE_CXX_COMPILER=" + Q(CXX_COMPILER) + " -DCMAKE_CXX_FLAGS=" +
                  Q(CONSUMER_FLAGS) + " -DCMAKE_EXE_LINKER_FLAGS=" + Q(CONSUMER_LINK_FLAGS) + " && " +
                  Q(CMAKE_COMMAND_EXE) + " --build " + Q(build)),
            0);
  ASSERT_EQ(Shell("export PKG_CONFIG_PATH=" + Q(prefix + "/lib/pkgconfig") + "; " + Q(CXX_COMPILER) + " -std=c++17 " +
                  CONSUMER_FLAGS + " " + Q(CONSUMER_DIR "/consumer.cpp") + " -o " + Q(dir + "/consumer") + " " +
                  CONSUMER_LINK_FLAGS + " $(pkg-config --cflags --libs micarray)"),
            0);
  for (const std::string& consumer : {build + "/consumer", dir + "/consumer"}) {
    ASSERT_EQ(::Run(consumer, {"16000", kVector, consumer + ".pcm"}).status, 0) << consumer;
    EXPECT_EQ(ReadFile(consumer + ".pcm"), ReadFile(dir + "/pcmbeam.pcm")) << consumer;
  }
}

}  // namespace
