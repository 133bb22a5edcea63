/// Decoded records of the proxy's five maps and their text forms. Decoding
/// checks the sizes first and never reads past the bytes it is given;
/// formatting works on decoded records only, so every output form (text,
/// JSON, metrics) shares the same decoders.
#ifndef TOOL_RECORDS_H
#define TOOL_RECORDS_H

#include <cstdint>
#include <string>
#include <vector>

/// The bytes of one record as the walk delivered them.
struct RecordBytes
{
   const void *key;
   uint64_t keySize; ///< bytes readable at `key`
   const void *value;
   uint64_t valueSize; ///< bytes readable at `value`
};

/// label_port_map: 4-byte host-order label -> 2-byte network-order port.
struct LabelPortRecord
{
   uint32_t label;
   uint16_t port; ///< host byte order
};
constexpr uint32_t kLabelPortKeyBytes = 4;
constexpr uint32_t kLabelPortValueBytes = 2;

/// worker_port_map: 2-byte network-order port -> presence marker.
struct WorkerPortRecord
{
   uint16_t port; ///< host byte order
};
constexpr uint32_t kWorkerPortKeyBytes = 2;
constexpr uint32_t kWorkerPortValueBytes = 0;

/// bpf_fwd_err: 4-byte error code -> 8-byte count.
struct FwdErrRecord
{
   uint32_t code;
   uint64_t count;
};
constexpr uint32_t kFwdErrKeyBytes = 4;
constexpr uint32_t kFwdErrValueBytes = 8;

/// bpf_fwd_stats: 4-byte counter index -> one 8-byte counter per possible CPU.
struct FwdStatsRecord
{
   bool hasIndex; ///< false when the map's key size is 0
   uint32_t index;
   std::vector<uint64_t> perCpu; ///< empty when the map's value size is 0
};
constexpr uint32_t kFwdStatsKeyBytes = 4;
constexpr uint32_t kFwdStatsCounterBytes = 8;

/// bpf_fwd_err_log: 12-byte key (time, extra id) -> 44-byte connection record.
struct ErrLogRecord
{
   uint64_t timeNs;
   uint32_t extraId;
   bool ipv4;       ///< ip_ver == 4; any other value means IPv6
   std::string sip; ///< address text
   std::string dip;
   uint32_t err;
   uint16_t l4proto; ///< as stored
   uint16_t sport;   ///< host byte order
   uint16_t dport;   ///< host byte order
};
constexpr uint32_t kErrLogKeyBytes = 12;
constexpr uint32_t kErrLogValueBytes = 44;

/// Each decoder returns false, reading nothing, when the record is shorter
/// than the bytes the layout needs.
bool DecodeLabelPort(const RecordBytes &rec, LabelPortRecord *out);
bool DecodeWorkerPort(const RecordBytes &rec, WorkerPortRecord *out);
bool DecodeFwdErr(const RecordBytes &rec, FwdErrRecord *out);
bool DecodeErrLog(const RecordBytes &rec, ErrLogRecord *out);

/// Per-CPU counters: `elemSize` is the map's value size, `cpus` the
/// possible-CPU count. Each CPU's slot is `elemSize` rounded up to 8 bytes
/// and its counter is the first 8 bytes of the slot. A key size of 0 gives
/// no index; an element size of 0 gives no counters. Returns false when the
/// key is 1 to 3 bytes, the element is 1 to 7 bytes, or rec.valueSize is
/// smaller than `cpus` slots.
bool DecodeFwdStats(const RecordBytes &rec, uint32_t elemSize, int cpus, FwdStatsRecord *out);

/// Name of an error code 0..4 ("get label" ... "do check sum"), or nullptr.
const char *FwdErrName(uint32_t code);
/// Label of a counter index 0..3 ("rx bytes: " ... "tx end bytes: "), or
/// nullptr.
const char *FwdStatsLabel(uint32_t index);

/// A label as --key takes it, in the listing's hexadecimal: "0x2a" or "2a",
/// either case, at most 8 digits. Returns false for anything else.
bool ParseLabelKey(const std::string &text, uint32_t *label);
/// A port as --key takes it: decimal 0 to 65535, digits only. Returns false
/// for anything else.
bool ParsePortKey(const std::string &text, uint16_t *port);

/// `v` in decimal: sums of 64-bit counters may need more than 64 bits.
std::string DecimalText(unsigned __int128 v);
/// The sum of a counter's per-CPU values, exact.
unsigned __int128 FwdStatsTotal(const FwdStatsRecord &r);

/// The words of a counter's label ("rx end bytes" for index 1), or "" for an
/// index above 3.
std::string FwdStatsName(uint32_t index);

/// Text lines, each ending in '\n'.
std::string FormatLabelPort(const LabelPortRecord &r);   ///< "label :0x2a\tport : 443\n"
/// The same line into `line`, for the one map large enough that a text per
/// record would cost; returns its length.
constexpr size_t kLabelPortLineMax = 48;
size_t FormatLabelPortLine(const LabelPortRecord &r, char (&line)[kLabelPortLineMax]);
std::string FormatWorkerPort(const WorkerPortRecord &r); ///< "worker bind port: 8080\n"
/// "error key: do check sum val: 12\n", or "" for an unknown code.
std::string FormatFwdErr(const FwdErrRecord &r);
/// The label line (or "wrong key \n" for an index above 3, then nothing
/// else) and one "\t value on cpu[i]: n\n" line per counter.
std::string FormatFwdStats(const FwdStatsRecord &r);

/// The raw line of an error-log record: time:extra:sip:dip:err:l4proto:
/// sport:dport and '\n'. IPv6 addresses are written in brackets so that
/// ParseErrLogRaw can tell their colons from the separators.
std::string FormatErrLogRaw(const ErrLogRecord &r);
/// Parses one raw line (without its newline). Returns false for a line
/// that is not a complete raw record.
bool ParseErrLogRaw(const std::string &line, ErrLogRecord *out);
/// The ordering text of a record: "<time_ns>:<extra_id>".
std::string ErrLogKeyText(const ErrLogRecord &r);
/// The listing line: "1500(ns):sip: 10.0.0.1 dip: 10.0.0.2 err: 1 l4proto: 6
/// sport: 40000 dport: 443\n" (addresses without brackets).
std::string FormatErrLogEntry(const ErrLogRecord &r);

#endif
