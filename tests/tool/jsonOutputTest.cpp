#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <string.h>

#include <cstdint>
#include <limits>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "tool/jsonOutput.h"

using nlohmann::json;

namespace {

// Round trip through text, so every test also checks what a reader parses.
json Reparse(const JsonValue &doc)
{
   std::ostringstream out;
   EXPECT_EQ(WriteJsonDocument(out, doc), 0);
   const std::string text = out.str();
   EXPECT_EQ(text.back(), '\n');
   EXPECT_EQ(text.find('\n'), text.size() - 1) << "one line per document";
   // Fields come in the documented order; the parsed form compares by value.
   EXPECT_EQ(text, doc.dump() + "\n");
   return json::parse(text);
}

std::vector<unsigned char> ErrLogValue(int family, const char *sip, const char *dip, uint32_t err,
                                       uint16_t ipVer, uint16_t l4proto, uint16_t sport,
                                       uint16_t dport)
{
   std::vector<unsigned char> v(44, 0);
   inet_pton(family, dip, v.data());
   inet_pton(family, sip, v.data() + 16);
   uint16_t nsport = htons(sport), ndport = htons(dport);
   memcpy(v.data() + 32, &err, 4);
   memcpy(v.data() + 36, &ipVer, 2);
   memcpy(v.data() + 38, &l4proto, 2);
   memcpy(v.data() + 40, &nsport, 2);
   memcpy(v.data() + 42, &ndport, 2);
   return v;
}

std::vector<unsigned char> ErrLogKey(uint64_t timeNs, uint32_t extraId)
{
   std::vector<unsigned char> k(16, 0);
   memcpy(k.data(), &timeNs, 8);
   memcpy(k.data() + 8, &extraId, 4);
   return k;
}

TEST(JsonOutput, ErrorCountersCarryNamesBesideCodes)
{
   const struct
   {
      uint32_t code;
      uint64_t count;
      json name;
   } cases[] = {
       {0, 0, "get label"},     {1, 7, "invalid hmac"},
       {4, 12, "do check sum"}, {4, std::numeric_limits<uint64_t>::max(), "do check sum"},
       {5, 3, nullptr},         {0x80000000u, 1, nullptr},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.code);
      FwdErrRecord r;
      ASSERT_TRUE(DecodeFwdErr(RecordBytes{&c.code, 4, &c.count, 8}, &r));
      json got = Reparse(FwdErrJson(r));
      EXPECT_EQ(got["code"].get<uint32_t>(), c.code);
      EXPECT_EQ(got["name"], c.name);
      // Counts above 2^53 stay exact.
      EXPECT_EQ(got["count"].get<uint64_t>(), c.count);
   }
}

TEST(JsonOutput, FieldsComeInTheDocumentedOrder)
{
   EXPECT_EQ(FwdErrJson(FwdErrRecord{4, 12}).dump(),
             R"({"code":4,"name":"do check sum","count":12})");
   EXPECT_EQ(FwdStatsJson(FwdStatsRecord{true, 0, {1, 2}}).dump(),
             R"({"index":0,"name":"rx bytes","values":[1,2],"total":3})");
   ErrLogRecord r{1500, 7, true, "10.0.0.1", "10.0.0.2", 1, 6, 40000, 443};
   EXPECT_EQ(ErrLogJson(r).dump(),
             R"({"time_ns":1500,"extra_id":7,"ip_ver":4,"sip":"10.0.0.1","dip":"10.0.0.2",)"
             R"("err":1,"l4proto":6,"sport":40000,"dport":443})");
   EXPECT_EQ(MapDocument("m", JsonValue::array()).dump(), R"({"map":"m","records":[]})");
}

TEST(JsonOutput, StatsGiveValuesPerCpuAndTheirTotal)
{
   const uint32_t index = 2;
   const uint64_t values[3] = {100, 0, 23};
   FwdStatsRecord r;
   ASSERT_TRUE(DecodeFwdStats(RecordBytes{&index, 4, values, sizeof values}, 8, 3, &r));
   EXPECT_EQ(Reparse(FwdStatsJson(r)),
             json::parse(R"({"index":2,"name":"tx bytes","values":[100,0,23],"total":123})"));

   const uint32_t wrong = 4;
   ASSERT_TRUE(DecodeFwdStats(RecordBytes{&wrong, 4, values, sizeof values}, 8, 1, &r));
   json got = Reparse(FwdStatsJson(r));
   EXPECT_EQ(got["index"], 4);
   EXPECT_TRUE(got["name"].is_null());
   EXPECT_EQ(got["values"], json::parse("[100]"));

   // A key size of 0 gives no index, as in the text form.
   ASSERT_TRUE(DecodeFwdStats(RecordBytes{nullptr, 0, values, sizeof values}, 8, 2, &r));
   got = Reparse(FwdStatsJson(r));
   EXPECT_TRUE(got["index"].is_null());
   EXPECT_TRUE(got["name"].is_null());
   EXPECT_EQ(got["total"], 100);
}

TEST(JsonOutput, StatsTotalBeyond64BitsIsNotWrapped)
{
   const uint64_t max = std::numeric_limits<uint64_t>::max();
   FwdStatsRecord r{true, 0, {max, max}};
   json got = Reparse(FwdStatsJson(r));
   EXPECT_EQ(got["values"][0].get<uint64_t>(), max);
   ASSERT_TRUE(got["total"].is_number_float());
   EXPECT_DOUBLE_EQ(got["total"].get<double>(), 2.0 * static_cast<double>(max));

   r.perCpu = {max, 0};
   EXPECT_EQ(Reparse(FwdStatsJson(r))["total"].get<uint64_t>(), max);
}

TEST(JsonOutput, ErrLogRecordsKeepAddressesAsText)
{
   const struct
   {
      int family;
      const char *sip, *dip;
      uint16_t ipVer;
      int expectVer;
   } cases[] = {
       {AF_INET, "10.0.0.1", "10.0.0.2", 4, 4},
       {AF_INET6, "2001:db8::1", "2001:db8::2", 6, 6},
       {AF_INET6, "::ffff:10.1.2.3", "fe80::1", 0, 6},
       {AF_INET6, "::", "::1", 6, 6},
   };
   for (const auto &c : cases) {
      SCOPED_TRACE(c.sip);
      std::vector<unsigned char> key = ErrLogKey(1500, 7);
      std::vector<unsigned char> value =
          ErrLogValue(c.family, c.sip, c.dip, 3, c.ipVer, 17, 40000, 53);
      ErrLogRecord r;
      ASSERT_TRUE(DecodeErrLog(RecordBytes{key.data(), 12, value.data(), 44}, &r));
      // The text form carries IPv6 through its raw line; JSON decodes the same.
      ErrLogRecord viaRaw;
      std::string raw = FormatErrLogRaw(r);
      ASSERT_TRUE(ParseErrLogRaw(raw.substr(0, raw.size() - 1), &viaRaw)) << raw;
      json got = Reparse(ErrLogJson(viaRaw));
      EXPECT_EQ(got, Reparse(ErrLogJson(r)));
      EXPECT_EQ(got["time_ns"], 1500);
      EXPECT_EQ(got["extra_id"], 7);
      EXPECT_EQ(got["ip_ver"], c.expectVer);
      EXPECT_EQ(got["sip"], c.sip);
      EXPECT_EQ(got["dip"], c.dip);
      EXPECT_EQ(got["err"], 3);
      EXPECT_EQ(got["l4proto"], 17);
      EXPECT_EQ(got["sport"], 40000);
      EXPECT_EQ(got["dport"], 53);
   }
}

// A stream whose device refuses every byte, as /dev/full does.
class FullBuf : public std::streambuf
{
 protected:
   int overflow(int) override { return traits_type::eof(); }
   std::streamsize xsputn(const char *, std::streamsize) override { return 0; }
};

TEST(JsonOutput, FailedWriteIsReported)
{
   FullBuf buf;
   std::ostream out(&buf);
   EXPECT_EQ(WriteJsonDocument(out, MapListDocument({"a"})), -1);
}

} // namespace
