// The installed package: headers, library, CMake package, pkg-config file and
// programs, used by programs in C and C++ built elsewhere as their authors would.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

#include "support.h"

namespace {

const char kVector[] = VECTOR_DIR "/talker_16k.in.pcm";
const char kExpected[] = VECTOR_DIR "/talker_16k.out.pcm";

int Shell(const std::string& command) { return system((command + " >/dev/null 2>&1").c_str()); }

std::string Q(const std::string& s) { return "'" + s + "'"; }

TEST(Package, InstalledProgramsAndConsumersInCAndCxxGiveTheEnginesOutput) {
  const std::string dir = TempDir(), prefix = dir + "/prefix", build = dir + "/build";
  for (const char* component : {"micarray_dev", "micarray_bin"})
    ASSERT_EQ(Shell(Q(CMAKE_COMMAND_EXE) + " --install " + Q(BUILD_DIR) + " --component " + component +
                    " --prefix " + Q(prefix)),
              0);
  // The public headers, library, CMake package (at a version) and pkg-config file: the
  // consumers below use each; the internals stay private.
  for (const char* file :
       {"include/micarray/com_struct.h", "include/micarray/micarray_core.h", "include/micarray/uperation.h"})
    EXPECT_FALSE(std::filesystem::exists(prefix + "/" + file)) << file;
  std::istringstream programs(PROGRAMS);
  for (std::string program; programs >> program;)
    EXPECT_EQ(access((prefix + "/bin/" + program).c_str(), X_OK), 0) << program;

  // The consumers link with the project's own flags (-m32, sanitizers).
  ASSERT_EQ(Shell(Q(CMAKE_COMMAND_EXE) + " -S " + Q(CONSUMER_DIR) + " -B " + Q(build) +
                  " -DCMAKE_PREFIX_PATH=" + Q(prefix) + " -DCMAKE_C_COMPILER=" + Q(C_COMPILER) +
                  " -DCMAKE_CXX_COMPILER=" + Q(CXX_COMPILER) + " -DCMAKE_C_FLAGS=" + Q(CONSUMER_FLAGS) +
                  " -DCMAKE_CXX_FLAGS=" + Q(CONSUMER_FLAGS) + " -DCMAKE_EXE_LINKER_FLAGS=" +
                  Q(CONSUMER_LINK_FLAGS) + " && " + Q(CMAKE_COMMAND_EXE) + " --build " + Q(build)),
            0);
  // The C one again through pkg-config, linked by the C compiler: the file names what a C link needs.
  const std::string cConsumer = dir + "/consumer_c";
  ASSERT_EQ(Shell("export PKG_CONFIG_PATH=" + Q(prefix + "/lib/pkgconfig") + "; " + Q(C_COMPILER) + " -std=c99 " +
                  CONSUMER_FLAGS + " " + Q(CONSUMER_DIR "/consumer_c.c") + " -o " + Q(cConsumer) + " " +
                  CONSUMER_LINK_FLAGS + " $(pkg-config --static --cflags --libs micarray)"),
            0);
  const std::string consumers[] = {build + "/consumer", build + "/consumer_c", cConsumer};

  ASSERT_EQ(::Run(prefix + "/bin/pcmbeam",
                  {"0.05", "0.07", "-15", "0.9", "0.98", "16000", kVector, dir + "/pcmbeam.pcm"})
                .status,
            0);
  EXPECT_EQ(ReadFile(dir + "/pcmbeam.pcm"), ReadFile(kExpected));
  for (const std::string& consumer : consumers) {
    ASSERT_EQ(::Run(consumer, {"16000", kVector, consumer + ".pcm"}).status, 0) << consumer;
    EXPECT_EQ(ReadFile(consumer + ".pcm"), ReadFile(kExpected)) << consumer;
  }
}

}  // namespace
