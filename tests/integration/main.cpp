// Every test process (ctest runs one per test) moves into fresh mount and
// network namespaces first, so the bpffs it mounts, the files it binds and
// the interfaces it creates never reach the host; children inherit them.
#include <gtest/gtest.h>

#include <cstdio>

#include "support/kernelFixture.h"

int main(int argc, char **argv)
{
   ::testing::InitGoogleTest(&argc, argv);
   std::string why = fwdtest::EnterPrivateNamespaces();
   if (!why.empty()) {
      // The fixtures report it per test, as a skip or, when the kernel is
      // required, a failure.
      fprintf(stderr, "integration: %s\n", why.c_str());
   }
   return RUN_ALL_TESTS();
}
