// Every test process (ctest runs one per test) moves into fresh mount and
// network namespaces first, so the bpffs it mounts, the files it binds and
// the interfaces it creates never reach the host; children inherit them.
#include <gtest/gtest.h>

#include "support/kernelFixture.h"

int main(int argc, char **argv)
{
   ::testing::InitGoogleTest(&argc, argv);
   // Where that fails, the fixtures say so per test, as a skip or, when the
   // kernel is required, a failure.
   fwdtest::EnterPrivateNamespaces();
   return RUN_ALL_TESTS();
}
