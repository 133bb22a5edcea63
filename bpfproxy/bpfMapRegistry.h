/// The map side of the proxy: the five pinned map names, their descriptors
/// and one record printer per map. Not thread safe: one thread at a time.
#ifndef BPFPROXY_BPFMAPREGISTRY_H
#define BPFPROXY_BPFMAPREGISTRY_H

#include <linux/bpf.h>

#include <cstdint>
#include <iosfwd>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "bpfproxy/bpfSyscall.h"

/// The proxy's map names, defined once.
extern const char *const kLabelPortMapName;  ///< "label_port_map"
extern const char *const kWorkerPortMapName; ///< "worker_port_map"
extern const char *const kFwdStatsMapName;   ///< "bpf_fwd_stats"
extern const char *const kFwdErrMapName;     ///< "bpf_fwd_err"
extern const char *const kFwdErrLogMapName;  ///< "bpf_fwd_err_log"

class BpfMapRegistry;

/// Prints one record (stream, map info, key bytes, value bytes) as complete
/// text lines on the given stream and no other.
typedef void (BpfMapRegistry::*MapRecordPrinter)(std::ostream &os, const struct bpf_map_info &info,
                                                 const void *key, const void *value);

class BpfMapRegistry
{
 public:
   /// Reads BpfProxy.FsPath (default "/sys/fs/bpf/") and fills the name
   /// list and the printer table. Opens nothing.
   BpfMapRegistry();
   /// Releases the members only; descriptors stay open until process exit.
   virtual ~BpfMapRegistry();

   BpfMapRegistry(const BpfMapRegistry &) = delete;
   BpfMapRegistry &operator=(const BpfMapRegistry &) = delete;

   /// Opens every map of mMapNames in order, recording each result (a
   /// descriptor or a negated errno) in mMapFds. Returns 0, or -1 at the
   /// first failure (later names are not tried). Older descriptors are not
   /// closed when called again.
   int OpenAllMaps();

   /// A copy of the five names in registry order.
   std::vector<std::string> GetMapNames() const;

   /// mFsPath + "/tc/globals/" + name, joined as they stand.
   std::string BuildPinPath(const std::string &name) const;

   /// The descriptor or negated errno recorded for `name`, or -1 when the
   /// name was never opened.
   int GetMapFd(const std::string &name) const;

   /// Walks map `name` with its printer into `os`. Returns 0 at the map's
   /// end, -1 for an unknown name, a missing or negative descriptor or a
   /// failed allocation, otherwise the walk's negated errno.
   int DumpMap(std::ostream &os, const std::string &name);

   /// Updates one element of map `name`; key and value must have the map's
   /// sizes. Returns 0, -1 when `name` was never opened (no system call), or
   /// a negated errno.
   int UpdateMapElem(const std::string &name, const void *key, const void *value, uint64_t flags);
   /// Deletes one element; results as UpdateMapElem.
   int DeleteMapElem(const std::string &name, const void *key);

   /// Inserts `port` (network byte order) into worker_port_map with value 1.
   int AddWorkerPort(uint16_t port);
   /// Stores `port` (network byte order) under `label` in label_port_map.
   int SetLabelPort(uint32_t label, uint16_t port);
   /// Deletes `port` (network byte order) from worker_port_map.
   int RemoveWorkerPort(uint16_t port);
   /// Deletes `label` from label_port_map.
   int RemoveLabelPort(uint32_t label);

   /// True when the pinned label_port_map can be opened; the descriptor it
   /// obtains is closed again, not recorded.
   bool IsMapPinned() const;

   /// Unlinks the pinned file of every map; failures are ignored. mMapFds is
   /// left as it is.
   void UnpinAllMaps();

   /// The record printers (defined with the tool's output formats). Each
   /// checks info.key_size and info.value_size first: a record shorter than
   /// what it reads is skipped, with one warning per map on standard error.
   void printLabelPortMap(std::ostream &os, const struct bpf_map_info &info, const void *key,
                          const void *value);
   void printWorkerPortMap(std::ostream &os, const struct bpf_map_info &info, const void *key,
                           const void *value);
   /// Reads the possible-CPU count for every record; a count below 1 is
   /// fatal (status 255).
   void printFwdStats(std::ostream &os, const struct bpf_map_info &info, const void *key,
                      const void *value);
   void printFwdErr(std::ostream &os, const struct bpf_map_info &info, const void *key,
                    const void *value);
   /// Writes the record's raw line and remembers its key for
   /// DeleteListedErrLogRecords; it deletes nothing itself, so a record
   /// leaves the map only after its listing line reached the reader.
   void printFwdErrLog(std::ostream &os, const struct bpf_map_info &info, const void *key,
                       const void *value);

   /// Keys of the error-log records printed by the latest dump of the error
   /// log (each such dump starts afresh), in walk order, until
   /// DeleteListedErrLogRecords. Of two records with the same
   /// time and id (keys differing beyond them), only the later one is listed,
   /// so only its key is kept.
   const std::vector<std::vector<unsigned char>> &ListedErrLogKeys() const { return mErrLogKeys; }

   /// Deletes every remembered error-log key and forgets them. For each
   /// failed deletion writes "delete log file failed. ret: <ret> map name:
   /// bpf_fwd_err_log" and a newline to `errOs`. Returns the number of
   /// failed deletions.
   int DeleteListedErrLogRecords(std::ostream &errOs);

 protected:
   /// The bpf element command `cmd` on map `name`: 0, -1 when the map is not
   /// open, or a negated errno.
   int MapElemOp(int cmd, const std::string &name, const void *key, const void *value,
                 uint64_t flags);
   /// Forgets the listed error-log keys.
   void ClearListedErrLogKeys();
   /// Warns once per map on standard error that a record was too short.
   void WarnShortRecord(const char *mapName, const struct bpf_map_info &info, uint32_t needKey,
                        uint64_t needValue);

   std::vector<std::string> mMapNames;
   std::string mFsPath;
   std::map<std::string, int> mMapFds;
   std::map<std::string, MapRecordPrinter> mPrinters;

   /// Bytes in the value buffer of the record being printed; the per-CPU
   /// printer never reads past it. 0 outside a walk.
   uint64_t mValueBufLen = 0;
   /// Maps already warned about short records.
   std::set<std::string> mShortWarned;
   /// Error-log keys printed and not yet deleted.
   std::vector<std::vector<unsigned char>> mErrLogKeys;
   /// Key text ("<time_ns>:<extra_id>") -> position in mErrLogKeys.
   std::map<std::string, size_t> mErrLogKeyIndex;
};

#endif
