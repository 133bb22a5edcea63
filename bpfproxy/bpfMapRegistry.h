/// The map side of the proxy: the five pinned map names, their descriptors
/// and one record printer per map. Not thread safe: one thread at a time.
#ifndef BPFPROXY_BPFMAPREGISTRY_H
#define BPFPROXY_BPFMAPREGISTRY_H

#include <linux/bpf.h>

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <map>
#include <string>
#include <vector>

#include "bpfproxy/bpfSyscall.h"

/// The proxy's map names, defined once.
extern const char *const kLabelPortMapName;  ///< "label_port_map"
extern const char *const kWorkerPortMapName; ///< "worker_port_map"
extern const char *const kFwdStatsMapName;   ///< "bpf_fwd_stats"
extern const char *const kFwdErrMapName;     ///< "bpf_fwd_err"
extern const char *const kFwdErrLogMapName;  ///< "bpf_fwd_err_log"

/// Prints one record (stream, map info, key bytes, value bytes, bytes
/// readable at the value) as complete text lines on the given stream and no
/// other.
using MapRecordPrinter = MapRecordVisitor;

class BpfMapRegistry
{
 public:
   /// Reads BpfProxy.FsPath (default "/sys/fs/bpf/") and fills the name
   /// list. Opens nothing; the printer table starts empty.
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

   /// Opens map `name` afresh from its pin and records the new descriptor,
   /// closing the one it replaces: a long-running reader sees a map that was
   /// re-created under the same pin, and learns when the pin is gone.
   /// Returns 0, -1 for a name not in the registry, or the open's negated
   /// errno (the old descriptor is then kept).
   int ReopenMap(const std::string &name);

   /// A copy of the five names in registry order.
   std::vector<std::string> GetMapNames() const;

   /// mFsPath + "/tc/globals/" + name, joined as they stand.
   std::string BuildPinPath(const std::string &name) const;

   /// The descriptor or negated errno recorded for `name`, or -1 when the
   /// name was never opened.
   int GetMapFd(const std::string &name) const;

   /// Sets (or, with an empty function, removes) the printer of map `name`.
   /// Returns 0, or -1 when `name` is not one of the five maps.
   int SetPrinter(const std::string &name, MapRecordPrinter printer);

   /// Walks map `name` with its printer into `os`. Returns 0 at the map's
   /// end, -1 for a name without a printer, a missing or negative descriptor
   /// or a failed allocation, otherwise the walk's negated errno.
   int DumpMap(std::ostream &os, const std::string &name);

   /// Updates one element of map `name`; key and value must have the map's
   /// sizes. Returns 0, -1 when `name` was never opened (no system call), or
   /// a negated errno.
   int UpdateMapElem(const std::string &name, const void *key, const void *value, uint64_t flags);
   /// Reads the value of one element into `value`, which must hold what the
   /// kernel writes for the map (MapValueBufferBytes); results as
   /// UpdateMapElem (-ENOENT for a key the map does not hold).
   int LookupMapElem(const std::string &name, const void *key, void *value);
   /// Deletes one element; results as UpdateMapElem.
   int DeleteMapElem(const std::string &name, const void *key);
   /// Deletes `count` keys of `keySize` bytes laid out one after another, a
   /// batch at a time where the kernel can (MapDeleteKeys). Calls `failed`
   /// with the position and result of every key not deleted (-1 for all of
   /// them when `name` was never opened). Returns how many were not deleted.
   size_t DeleteMapElems(const std::string &name, const unsigned char *keys, uint32_t keySize,
                         size_t count, const std::function<void(size_t index, int rc)> &failed);

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

 protected:
   /// The bpf element command `cmd` on map `name`: 0, -1 when the map is not
   /// open, or a negated errno.
   int MapElemOp(int cmd, const std::string &name, const void *key, const void *value,
                 uint64_t flags);

   std::vector<std::string> mMapNames;
   std::string mFsPath;
   std::map<std::string, int> mMapFds;
   // The tool fills the printer table: the record formats are the tool's,
   // so this library never names the tool and the agent, which links it for
   // the port operations, carries no printer code.
   std::map<std::string, MapRecordPrinter> mPrinters;
};

#endif
