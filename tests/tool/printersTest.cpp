// The five printers on hand-made records: exact lines, size checks, and
// the stream left in decimal.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <string.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "bpfproxy/bpfMapRegistry.h"
#include "support/kernelFixture.h"

namespace {

// Gives the tests the walk's view of the value buffer.
class TestRegistry : public BpfMapRegistry
{
 public:
   void SetValueBufLen(uint64_t len) { mValueBufLen = len; }
};

struct bpf_map_info Info(uint32_t keySize, uint32_t valueSize)
{
   struct bpf_map_info info;
   memset(&info, 0, sizeof info);
   info.key_size = keySize;
   info.value_size = valueSize;
   return info;
}

// Captures what a printer writes to standard error.
class StderrCapture
{
 public:
   StderrCapture() : mOld(std::cerr.rdbuf(mBuf.rdbuf())) {}
   ~StderrCapture() { std::cerr.rdbuf(mOld); }
   std::string str() const { return mBuf.str(); }

 private:
   std::ostringstream mBuf;
   std::streambuf *mOld;
};

TEST(PrintersTest, PortMaps)
{
   struct Case
   {
      MapRecordPrinter printer;
      std::vector<unsigned char> key, value;
      const char *out;
   } cases[] = {
       {&BpfMapRegistry::printLabelPortMap,
        {42, 0, 0, 0},
        {0x01, 0xBB},
        "label :0x2a\tport : 443\n"},
       {&BpfMapRegistry::printLabelPortMap,
        {0xef, 0xbe, 0xad, 0xde},
        {0xff, 0xff},
        "label :0xdeadbeef\tport : 65535\n"},
       {&BpfMapRegistry::printWorkerPortMap,
        {0x1F, 0x90},
        {1, 0, 0, 0},
        "worker bind port: 8080\n"},
   };
   TestRegistry reg;
   for (const Case &c : cases) {
      std::ostringstream os;
      (reg.*c.printer)(os, Info(c.key.size(), c.value.size()), c.key.data(), c.value.data());
      os << 255; // the label's hexadecimal must not leak into later numbers
      EXPECT_EQ(std::string(c.out) + "255", os.str());
   }
}

TEST(PrintersTest, ErrorCounters)
{
   struct Case
   {
      uint32_t code;
      uint64_t count;
      const char *out;
   } cases[] = {{0, 0, "error key: get label val: 0\n"},
                {1, 1, "error key: invalid hmac val: 1\n"},
                {2, 2, "error key: lookup label val: 2\n"},
                {3, 3, "error key: do dnat val: 3\n"},
                {4, 12, "error key: do check sum val: 12\n"},
                {5, 7, ""},
                {0x80000000u, 7, ""}};
   TestRegistry reg;
   for (const Case &c : cases) {
      std::ostringstream os;
      reg.printFwdErr(os, Info(4, 8), &c.code, &c.count);
      EXPECT_EQ(c.out, os.str()) << c.code;
   }
}

TEST(PrintersTest, StatsPerCpu)
{
   int cpus = get_possible_cpus();
   ASSERT_GE(cpus, 1);
   std::vector<uint64_t> values(cpus);
   std::string counters;
   for (int i = 0; i < cpus; i++) {
      values[i] = 1000 + i;
      counters += "\t value on cpu[" + std::to_string(i) + "]: " + std::to_string(1000 + i) + "\n";
   }
   struct Case
   {
      uint32_t index;
      uint32_t keySize, valueSize;
      std::string out;
   } cases[] = {
       {0, 4, 8, "rx bytes: \n" + counters},
       {3, 4, 8, "tx end bytes: \n" + counters},
       {4, 4, 8, "wrong key \n"},
       {9, 0, 8, counters}, // no key: counters only
       {1, 4, 0, "rx end bytes: \n"},
   };
   TestRegistry reg;
   reg.SetValueBufLen(values.size() * 8);
   for (const Case &c : cases) {
      std::ostringstream os;
      reg.printFwdStats(os, Info(c.keySize, c.valueSize), &c.index, values.data());
      EXPECT_EQ(c.out, os.str()) << c.index << "/" << c.keySize << "/" << c.valueSize;
   }
}

TEST(PrintersTest, ErrLogWritesRawLinesAndRemembersKeys)
{
   fwdtest::ErrLogBytes b = fwdtest::MakeErrLog(1500, 7, "10.0.0.1", "10.0.0.2", 1, 6, 40000, 443);
   unsigned char *key = b.key, *value = b.value;
   key[12] = 0xaa; // padding the key text does not show

   TestRegistry reg;
   std::ostringstream os;
   reg.printFwdErrLog(os, Info(16, 44), key, value);
   EXPECT_EQ("1500:7:10.0.0.1:10.0.0.2:1:6:40000:443\n", os.str());
   ASSERT_EQ(1u, reg.ListedErrLogKeys().size());
   EXPECT_EQ(std::vector<unsigned char>(key, key + 16), reg.ListedErrLogKeys()[0]);

   // Same time and id, different padding: only the later record is listed,
   // so only its key may be deleted.
   unsigned char twin[16];
   memcpy(twin, key, 16);
   twin[12] = 0xbb;
   std::ostringstream again;
   reg.printFwdErrLog(again, Info(16, 44), twin, value);
   EXPECT_EQ(os.str(), again.str());
   ASSERT_EQ(1u, reg.ListedErrLogKeys().size());
   EXPECT_EQ(std::vector<unsigned char>(twin, twin + 16), reg.ListedErrLogKeys()[0]);

   // Nothing was opened: the deletion fails without a system call.
   std::ostringstream err;
   EXPECT_EQ(1, reg.DeleteListedErrLogRecords(err));
   EXPECT_EQ("delete log file failed. ret: -1 map name: bpf_fwd_err_log\n", err.str());
   EXPECT_TRUE(reg.ListedErrLogKeys().empty());
}

TEST(PrintersTest, ShortRecordsAreSkippedWithOneWarningPerMap)
{
   unsigned char bytes[64] = {};
   struct Case
   {
      MapRecordPrinter printer;
      struct bpf_map_info info;
      std::string warning;
   } cases[] = {
       {&BpfMapRegistry::printWorkerPortMap, Info(1, 4),
        "fwdmaps: worker_port_map: skipping records shorter than 2-byte key and 0-byte value (map "
        "has 1-byte key and 4-byte value)\n"},
       {&BpfMapRegistry::printFwdErr, Info(4, 4),
        "fwdmaps: bpf_fwd_err: skipping records shorter than 4-byte key and 8-byte value (map has "
        "4-byte key and 4-byte value)\n"},
       // Outside a walk the value buffer's length is unknown: no counter is
       // read.
       {&BpfMapRegistry::printFwdStats, Info(4, 8),
        "fwdmaps: bpf_fwd_stats: skipping records shorter than 4-byte key and " +
            std::to_string(8 * get_possible_cpus()) +
            "-byte value (map has 4-byte key and 8-byte value)\n"},
   };
   for (const Case &c : cases) {
      TestRegistry reg;
      StderrCapture err;
      std::ostringstream os;
      for (int i = 0; i < 3; i++) {
         (reg.*c.printer)(os, c.info, bytes, bytes);
      }
      EXPECT_EQ("", os.str());
      EXPECT_EQ(c.warning, err.str());
      EXPECT_TRUE(reg.ListedErrLogKeys().empty());
   }
}

} // namespace
