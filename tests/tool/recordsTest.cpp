// Record decoding and the raw error-log line.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <string.h>

#include <string>
#include <vector>

#include "support/kernelFixture.h"
#include "tool/records.h"

namespace {

TEST(ErrLogRecordTest, RawLineRoundTripsBothFamilies)
{
   struct Case
   {
      const char *sip, *dip;
      uint16_t ipVer;
      const char *raw;
      const char *entry;
   } cases[] = {
       {"10.0.0.1", "10.0.0.2", 4, "1500:7:10.0.0.1:10.0.0.2:3:17:5353:53\n",
        "1500(ns):sip: 10.0.0.1 dip: 10.0.0.2 err: 3 l4proto: 17 sport: 5353 dport: 53\n"},
       {"2001:db8::1", "2001:db8::2", 6, "1500:7:[2001:db8::1]:[2001:db8::2]:3:17:5353:53\n",
        "1500(ns):sip: 2001:db8::1 dip: 2001:db8::2 err: 3 l4proto: 17 sport: 5353 dport: 53\n"},
       {"::", "::1", 0, "1500:7:[::]:[::1]:3:17:5353:53\n",
        "1500(ns):sip: :: dip: ::1 err: 3 l4proto: 17 sport: 5353 dport: 53\n"},
   };
   for (const Case &c : cases) {
      SCOPED_TRACE(c.sip);
      fwdtest::ErrLogBytes b = fwdtest::MakeErrLog(1500, 7, c.sip, c.dip, 3, 17, 5353, 53, c.ipVer);
      ErrLogRecord r;
      ASSERT_TRUE(DecodeErrLog({b.key, 16, b.value, 44}, &r));
      EXPECT_EQ(c.raw, FormatErrLogRaw(r));
      EXPECT_EQ(c.entry, FormatErrLogEntry(r));

      std::string raw = c.raw;
      raw.pop_back();
      ErrLogRecord back;
      ASSERT_TRUE(ParseErrLogRaw(raw, &back));
      EXPECT_EQ(c.entry, FormatErrLogEntry(back));
      EXPECT_EQ("1500:7", ErrLogKeyText(back));
   }
}

TEST(ErrLogRecordTest, ParseRejectsWhatIsNotARecord)
{
   for (const char *line : {
            "",
            "delete log file failed. ret: -2 map name: bpf_fwd_err_log",
            "1500:7:10.0.0.1:10.0.0.2:3:17:5353",      // seven fields
            "1500:7:10.0.0.1:10.0.0.2:3:17:5353:53:9", // nine
            "1500:7:10.0.0.1:[::1]:3:17:5353:53",      // mixed families
            "1500:7:[::1:[::2]:3:17:5353:53",          // unclosed bracket
            "1500:7:10.0.0.1:10.0.0.2:3:17:65536:53",  // port out of range
            "18446744073709551616:7:a:b:3:17:1:2",     // time out of range
            "1500:4294967296:a:b:3:17:1:2",            // extra id out of range
            "-1:7:a:b:3:17:1:2",
        }) {
      ErrLogRecord r;
      EXPECT_FALSE(ParseErrLogRaw(line, &r)) << line;
   }
}

template <typename Record, bool (*Decode)(const RecordBytes &, Record *)>
bool Decodes(const RecordBytes &b)
{
   Record r;
   return Decode(b, &r);
}

TEST(RecordDecodeTest, ShortRecordsAreRefused)
{
   unsigned char key[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
   unsigned char value[44] = {0x01, 0xBB, 3, 4, 5, 6, 7, 8};
   const auto label = Decodes<LabelPortRecord, DecodeLabelPort>;
   const auto worker = Decodes<WorkerPortRecord, DecodeWorkerPort>;
   const auto err = Decodes<FwdErrRecord, DecodeFwdErr>;
   const auto log = Decodes<ErrLogRecord, DecodeErrLog>;
   struct Case
   {
      const char *what;
      uint64_t keySize, valueSize;
      bool ok;
      bool (*decode)(const RecordBytes &);
   } cases[] = {
       {"label", 4, 2, true, label},        {"label key", 3, 2, false, label},
       {"label value", 4, 1, false, label}, {"worker", 2, 0, true, worker},
       {"worker key", 1, 4, false, worker}, {"err", 4, 8, true, err},
       {"err value", 4, 7, false, err},     {"log", 12, 44, true, log},
       {"log key", 11, 44, false, log},     {"log value", 16, 43, false, log},
   };
   for (const Case &c : cases) {
      EXPECT_EQ(c.ok, c.decode({key, c.keySize, value, c.valueSize})) << c.what;
   }
}

TEST(RecordDecodeTest, StatsSlotsFollowTheElementSize)
{
   uint64_t buf[8] = {1, 2, 3, 4, 5, 6, 7, 8};
   uint32_t index = 2;
   struct Case
   {
      uint64_t keySize;
      uint32_t elemSize;
      int cpus;
      uint64_t bufBytes;
      bool ok;
      bool hasIndex;
      std::vector<uint64_t> perCpu;
   } cases[] = {
       {4, 8, 4, 64, true, true, {1, 2, 3, 4}}, {4, 12, 2, 64, true, true, {1, 3}}, // 16-byte slots
       {0, 8, 2, 64, true, false, {1, 2}}, // no key: no index
       {4, 0, 2, 64, true, true, {}},      // no value: no counters
       {4, 8, 9, 64, false, true, {}},     // more CPUs than the buffer holds
       {4, 4, 2, 64, false, true, {}},     // element shorter than a counter
       {2, 8, 2, 64, false, true, {}},     // key shorter than an index
   };
   for (const Case &c : cases) {
      SCOPED_TRACE(std::to_string(c.keySize) + "/" + std::to_string(c.elemSize) + "/" +
                   std::to_string(c.cpus));
      FwdStatsRecord r;
      ASSERT_EQ(c.ok, DecodeFwdStats({&index, c.keySize, buf, c.bufBytes}, c.elemSize, c.cpus, &r));
      if (c.ok) {
         EXPECT_EQ(c.hasIndex, r.hasIndex);
         EXPECT_EQ(c.perCpu, r.perCpu);
      }
   }
}

} // namespace
