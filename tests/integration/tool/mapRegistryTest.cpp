// The registry and the walk in process, against real maps in a private
// bpffs: element operations, opening, the low-descriptor rule and per-CPU
// values. Pins and their removal are seen through BpfProxyInit, a missing pin
// through the tool's process tests.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "bpfproxy/bpfMapRegistry.h"
#include "support/kernelFixture.h"
#include "support/textFiles.h"
#include "tool/textOutput.h"

namespace {

using MapRegistryTest = fwdtest::ProxyMapsTest;

TEST_F(MapRegistryTest, PortOperationsReachTheKernel)
{
   BpfMapRegistry reg;
   // Never opened: -1 and no system call.
   EXPECT_EQ(-1, reg.AddWorkerPort(htons(8080)));
   EXPECT_EQ(-1, reg.RemoveLabelPort(1));
   EXPECT_EQ(-1, reg.DeleteMapElem("no_such_map", "k"));
   ASSERT_EQ(0, reg.OpenAllMaps());
   std::ostringstream out; // printers are the tool's; none is set here
   EXPECT_EQ(-1, reg.DumpMap(out, "bpf_fwd_err"));
   EXPECT_EQ(-1, reg.SetPrinter("BPF_FWD_ERR", nullptr));

   EXPECT_EQ(0, reg.AddWorkerPort(htons(8080)));
   EXPECT_EQ(0, reg.SetLabelPort(42, htons(443)));
   EXPECT_EQ(0, reg.SetLabelPort(42, htons(444))); // update in place
   uint16_t port = 0;
   uint32_t label = 42;
   ASSERT_EQ(0, fwdtest::LookupElem(mMaps.fd("label_port_map"), &label, &port));
   EXPECT_EQ(444, ntohs(port));

   EXPECT_EQ(0, reg.RemoveWorkerPort(htons(8080)));
   EXPECT_EQ(-ENOENT, reg.RemoveWorkerPort(htons(8080)));
   EXPECT_EQ(0, reg.RemoveLabelPort(42));
   EXPECT_EQ(-ENOENT, reg.RemoveLabelPort(7));
   EXPECT_EQ(0, fwdtest::CountKeys(mMaps.fd("worker_port_map"), 2));
   EXPECT_EQ(0, fwdtest::CountKeys(mMaps.fd("label_port_map"), 4));
}

TEST_F(MapRegistryTest, LowDescriptorIsMovedUp)
{
   int saved = dup(0);
   ASSERT_GE(saved, 0);
   ASSERT_EQ(0, close(0));
   int fd = BpfObjGet((mBpfFs + "/tc/globals/bpf_fwd_err").c_str());
   int fd0State = fcntl(0, F_GETFD);
   int fd0Errno = errno;
   int cloexec = fcntl(fd, F_GETFD);
   dup2(saved, 0);
   close(saved);
   EXPECT_GE(fd, 3);
   EXPECT_EQ(-1, fd0State);
   EXPECT_EQ(EBADF, fd0Errno);
   EXPECT_EQ(FD_CLOEXEC, cloexec & FD_CLOEXEC);
   EXPECT_EQ(-ENOENT, BpfObjGet((mBpfFs + "/tc/globals/none").c_str()));
}

// A per-CPU hash gets a value slot per CPU from the walk, as the per-CPU
// array does (a one-value buffer would be overrun); printers read the first.
TEST_F(MapRegistryTest, PerCpuHashValuesFitTheWalksBuffer)
{
   fwdtest::RemoveProxyPins(mBpfFs);
   fwdtest::ProxyMaps maps;
   ASSERT_EQ("",
             maps.Create(mBpfFs, fwdtest::ProxyMapLayoutsWith(
                                     {{"label_port_map", BPF_MAP_TYPE_PERCPU_HASH, 4, 2, 16}})));
   std::string expected;
   for (uint32_t label = 1; label <= 16; label++) {
      std::vector<uint64_t> slots(fwdtest::PossibleCpus(), htons(1000 + label));
      ASSERT_EQ(0, fwdtest::UpdateElem(maps.fd("label_port_map"), &label, slots.data()));
      char line[64];
      snprintf(line, sizeof line, "label :0x%x\tport : %u\n", label, 1000 + label);
      expected += line;
   }
   BpfMapRegistry reg;
   ASSERT_EQ(0, reg.OpenAllMaps());
   for (uint32_t batch : {kMapBatchRecords, 0u}) {
      MapBatchSetRecords(batch);
      std::ostringstream out, err;
      EXPECT_EQ(kStatusOk, WriteTextMap(reg, "label_port_map", out, err, fwdtest::FlushStream))
          << err.str();
      EXPECT_EQ(fwdtest::SortedLines(expected), fwdtest::SortedLines(out.str())) << batch;
   }
   MapBatchSetRecords(kMapBatchRecords);
}

} // namespace
