#include "tool/records.h"

#include <arpa/inet.h>
#include <string.h>

#include "bpfproxy/bpfSyscall.h"

namespace {

const char *const kFwdErrNames[] = {"get label", "invalid hmac", "lookup label", "do dnat",
                                    "do check sum"};
const char *const kStatsLabels[] = {"rx bytes: ", "rx end bytes: ", "tx bytes: ", "tx end bytes: "};

template <typename T> T Load(const void *base, size_t offset)
{
   T v;
   memcpy(&v, static_cast<const unsigned char *>(base) + offset, sizeof v);
   return v;
}

bool Fits(const RecordBytes &rec, uint64_t keyBytes, uint64_t valueBytes)
{
   return rec.keySize >= keyBytes && rec.valueSize >= valueBytes &&
          (keyBytes == 0 || rec.key != nullptr) && (valueBytes == 0 || rec.value != nullptr);
}

std::string AddressText(const void *addr16, bool ipv4)
{
   char buf[100] = {0};
   if (inet_ntop(ipv4 ? AF_INET : AF_INET6, addr16, buf, sizeof buf) == nullptr) {
      return std::string();
   }
   return buf;
}

// Reads an unsigned decimal of at most `max` from text[pos..], advancing pos.
bool ParseUnsigned(const std::string &text, size_t &pos, uint64_t max, uint64_t *out)
{
   size_t start = pos;
   uint64_t v = 0;
   while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
      unsigned digit = static_cast<unsigned>(text[pos] - '0');
      if (v > (max - digit) / 10) {
         return false;
      }
      v = v * 10 + digit;
      pos++;
   }
   *out = v;
   return pos > start;
}

bool Expect(const std::string &text, size_t &pos, char c)
{
   if (pos < text.size() && text[pos] == c) {
      pos++;
      return true;
   }
   return false;
}

// An address field: IPv4 text up to the next ':', or IPv6 text in brackets.
bool ParseAddress(const std::string &text, size_t &pos, bool *ipv4, std::string *out)
{
   if (pos < text.size() && text[pos] == '[') {
      size_t close = text.find(']', pos + 1);
      if (close == std::string::npos) {
         return false;
      }
      *out = text.substr(pos + 1, close - pos - 1);
      *ipv4 = false;
      pos = close + 1;
      return true;
   }
   size_t colon = text.find(':', pos);
   if (colon == std::string::npos) {
      return false;
   }
   *out = text.substr(pos, colon - pos);
   *ipv4 = true;
   pos = colon;
   return true;
}

} // namespace

bool DecodeLabelPort(const RecordBytes &rec, LabelPortRecord *out)
{
   if (!Fits(rec, kLabelPortKeyBytes, kLabelPortValueBytes)) {
      return false;
   }
   out->label = Load<uint32_t>(rec.key, 0);
   out->port = ntohs(Load<uint16_t>(rec.value, 0));
   return true;
}

bool DecodeWorkerPort(const RecordBytes &rec, WorkerPortRecord *out)
{
   if (!Fits(rec, kWorkerPortKeyBytes, kWorkerPortValueBytes)) {
      return false;
   }
   out->port = ntohs(Load<uint16_t>(rec.key, 0));
   return true;
}

bool DecodeFwdErr(const RecordBytes &rec, FwdErrRecord *out)
{
   if (!Fits(rec, kFwdErrKeyBytes, kFwdErrValueBytes)) {
      return false;
   }
   out->code = Load<uint32_t>(rec.key, 0);
   out->count = Load<uint64_t>(rec.value, 0);
   return true;
}

bool DecodeFwdStats(const RecordBytes &rec, uint32_t elemSize, int cpus, FwdStatsRecord *out)
{
   out->hasIndex = rec.keySize != 0;
   out->index = 0;
   out->perCpu.clear();
   if (out->hasIndex) {
      if (!Fits(rec, kFwdStatsKeyBytes, 0)) {
         return false;
      }
      out->index = Load<uint32_t>(rec.key, 0);
   }
   if (elemSize == 0 || cpus < 1) {
      return true;
   }
   if (elemSize < kFwdStatsCounterBytes) {
      return false;
   }
   uint64_t slot = PerCpuValueBytes(elemSize, 1);
   if (rec.value == nullptr || rec.valueSize / slot < static_cast<uint64_t>(cpus)) {
      return false;
   }
   out->perCpu.reserve(cpus);
   for (int i = 0; i < cpus; i++) {
      out->perCpu.push_back(Load<uint64_t>(rec.value, slot * i));
   }
   return true;
}

bool DecodeErrLog(const RecordBytes &rec, ErrLogRecord *out)
{
   if (!Fits(rec, kErrLogKeyBytes, kErrLogValueBytes)) {
      return false;
   }
   out->timeNs = Load<uint64_t>(rec.key, 0);
   out->extraId = Load<uint32_t>(rec.key, 8);
   const unsigned char *v = static_cast<const unsigned char *>(rec.value);
   out->ipv4 = Load<uint16_t>(v, 36) == 4;
   out->dip = AddressText(v + 0, out->ipv4);
   out->sip = AddressText(v + 16, out->ipv4);
   out->err = Load<uint32_t>(v, 32);
   out->l4proto = Load<uint16_t>(v, 38);
   out->sport = ntohs(Load<uint16_t>(v, 40));
   out->dport = ntohs(Load<uint16_t>(v, 42));
   return true;
}

bool ParseLabelKey(const std::string &text, uint32_t *label)
{
   size_t start = text.compare(0, 2, "0x") == 0 || text.compare(0, 2, "0X") == 0 ? 2 : 0;
   if (text.size() == start || text.size() - start > 8) {
      return false;
   }
   uint32_t v = 0;
   for (size_t i = start; i < text.size(); i++) {
      char c = text[i];
      int digit = c >= '0' && c <= '9'   ? c - '0'
                  : c >= 'a' && c <= 'f' ? c - 'a' + 10
                  : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                         : -1;
      if (digit < 0) {
         return false;
      }
      v = v << 4 | static_cast<uint32_t>(digit);
   }
   *label = v;
   return true;
}

bool ParsePortKey(const std::string &text, uint16_t *port)
{
   size_t pos = 0;
   uint64_t v;
   if (!ParseUnsigned(text, pos, UINT16_MAX, &v) || pos != text.size()) {
      return false;
   }
   *port = static_cast<uint16_t>(v);
   return true;
}

std::string DecimalText(unsigned __int128 v)
{
   char digits[40];
   char *p = digits + sizeof digits;
   do {
      *--p = static_cast<char>('0' + static_cast<int>(v % 10));
      v /= 10;
   } while (v != 0);
   return std::string(p, digits + sizeof digits);
}

unsigned __int128 FwdStatsTotal(const FwdStatsRecord &r)
{
   unsigned __int128 total = 0;
   for (uint64_t v : r.perCpu) {
      total += v;
   }
   return total;
}

const char *FwdErrName(uint32_t code)
{
   return code <= 4 ? kFwdErrNames[code] : nullptr;
}

const char *FwdStatsLabel(uint32_t index)
{
   return index <= 3 ? kStatsLabels[index] : nullptr;
}

std::string FwdStatsName(uint32_t index)
{
   const char *label = FwdStatsLabel(index);
   std::string name = label != nullptr ? label : "";
   // The labels end in ": " for the text form.
   while (!name.empty() && (name.back() == ' ' || name.back() == ':')) {
      name.pop_back();
   }
   return name;
}

size_t FormatLabelPortLine(const LabelPortRecord &r, char (&line)[kLabelPortLineMax])
{
   // Digits by hand: this line is written once per record of the largest
   // map, where even printf's format parsing costs as much as reading it.
   static const char kPrefix[] = "label :0x";
   static const char kMiddle[] = "\tport : ";
   static const char kHex[] = "0123456789abcdef";
   char *p = line;
   memcpy(p, kPrefix, sizeof kPrefix - 1);
   p += sizeof kPrefix - 1;
   int shift = 28;
   while (shift > 0 && (r.label >> shift) == 0) {
      shift -= 4;
   }
   for (; shift >= 0; shift -= 4) {
      *p++ = kHex[(r.label >> shift) & 0xf];
   }
   memcpy(p, kMiddle, sizeof kMiddle - 1);
   p += sizeof kMiddle - 1;
   char digits[5];
   int n = 0;
   unsigned port = r.port;
   do {
      digits[n++] = static_cast<char>('0' + port % 10);
      port /= 10;
   } while (port != 0);
   while (n > 0) {
      *p++ = digits[--n];
   }
   *p++ = '\n';
   return static_cast<size_t>(p - line);
}

std::string FormatLabelPort(const LabelPortRecord &r)
{
   char line[kLabelPortLineMax];
   return std::string(line, FormatLabelPortLine(r, line));
}

std::string FormatWorkerPort(const WorkerPortRecord &r)
{
   return "worker bind port: " + std::to_string(r.port) + "\n";
}

std::string FormatFwdErr(const FwdErrRecord &r)
{
   const char *name = FwdErrName(r.code);
   if (name == nullptr) {
      return std::string();
   }
   return std::string("error key: ") + name + " val: " + std::to_string(r.count) + "\n";
}

std::string FormatFwdStats(const FwdStatsRecord &r)
{
   std::string text;
   if (r.hasIndex) {
      const char *label = FwdStatsLabel(r.index);
      if (label == nullptr) {
         return "wrong key \n";
      }
      text += label;
      text += "\n";
   }
   for (size_t i = 0; i < r.perCpu.size(); i++) {
      text += "\t value on cpu[" + std::to_string(i) + "]: " + std::to_string(r.perCpu[i]) + "\n";
   }
   return text;
}

std::string FormatErrLogRaw(const ErrLogRecord &r)
{
   std::string sip = r.ipv4 ? r.sip : "[" + r.sip + "]";
   std::string dip = r.ipv4 ? r.dip : "[" + r.dip + "]";
   return std::to_string(r.timeNs) + ":" + std::to_string(r.extraId) + ":" + sip + ":" + dip + ":" +
          std::to_string(r.err) + ":" + std::to_string(r.l4proto) + ":" + std::to_string(r.sport) +
          ":" + std::to_string(r.dport) + "\n";
}

bool ParseErrLogRaw(const std::string &line, ErrLogRecord *out)
{
   size_t pos = 0;
   uint64_t time, extra, err, proto, sport, dport;
   bool sipV4, dipV4;
   if (!ParseUnsigned(line, pos, UINT64_MAX, &time) || !Expect(line, pos, ':') ||
       !ParseUnsigned(line, pos, UINT32_MAX, &extra) || !Expect(line, pos, ':') ||
       !ParseAddress(line, pos, &sipV4, &out->sip) || !Expect(line, pos, ':') ||
       !ParseAddress(line, pos, &dipV4, &out->dip) || !Expect(line, pos, ':') ||
       !ParseUnsigned(line, pos, UINT32_MAX, &err) || !Expect(line, pos, ':') ||
       !ParseUnsigned(line, pos, UINT16_MAX, &proto) || !Expect(line, pos, ':') ||
       !ParseUnsigned(line, pos, UINT16_MAX, &sport) || !Expect(line, pos, ':') ||
       !ParseUnsigned(line, pos, UINT16_MAX, &dport) || pos != line.size() || sipV4 != dipV4) {
      return false;
   }
   out->timeNs = time;
   out->extraId = static_cast<uint32_t>(extra);
   out->ipv4 = sipV4;
   out->err = static_cast<uint32_t>(err);
   out->l4proto = static_cast<uint16_t>(proto);
   out->sport = static_cast<uint16_t>(sport);
   out->dport = static_cast<uint16_t>(dport);
   return true;
}

std::string ErrLogKeyText(const ErrLogRecord &r)
{
   return std::to_string(r.timeNs) + ":" + std::to_string(r.extraId);
}

std::string FormatErrLogEntry(const ErrLogRecord &r)
{
   return std::to_string(r.timeNs) + "(ns):sip: " + r.sip + " dip: " + r.dip +
          " err: " + std::to_string(r.err) + " l4proto: " + std::to_string(r.l4proto) +
          " sport: " + std::to_string(r.sport) + " dport: " + std::to_string(r.dport) + "\n";
}
