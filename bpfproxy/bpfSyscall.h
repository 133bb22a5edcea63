/// Thin wrappers around the bpf system call. The caller owns every
/// descriptor and buffer it passes. Not thread safe: the MapWalk test seam
/// is process-wide.
#ifndef BPFPROXY_BPFSYSCALL_H
#define BPFPROXY_BPFSYSCALL_H

#include <linux/bpf.h>

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <istream>

/// The attribute block handed to the kernel: always 144 bytes, zero-filled
/// before the fields of a command are set.
union BpfAttr {
   unsigned char raw[144];
   struct
   {
      uint32_t map_fd;
      uint32_t pad0;
      uint64_t key;
      uint64_t value; // also next_key for BPF_MAP_GET_NEXT_KEY
      uint64_t flags;
   } elem;
   struct
   {
      uint64_t pathname;
      uint32_t bpf_fd;
      uint32_t file_flags;
   } obj;
   struct
   {
      uint32_t bpf_fd;
      uint32_t info_len;
      uint64_t info;
   } info;
   struct
   {
      uint64_t in_batch;  // token to resume from; 0 to start at the beginning
      uint64_t out_batch; // receives the token to resume from
      uint64_t keys;
      uint64_t values;
      uint32_t count; // records offered; on return, records filled
      uint32_t map_fd;
      uint64_t elem_flags;
      uint64_t flags;
   } batch;
};
static_assert(sizeof(BpfAttr) == 144, "the kernel is always told 144 bytes");
static_assert(sizeof(struct bpf_map_info) == 88, "map info record is 88 bytes");

/// Issues bpf(cmd, attr, 144) and returns the raw result (-1 with errno set
/// on failure).
int64_t BpfSysCall(int cmd, BpfAttr *attr);

/// Opens the pinned object at the NUL-terminated `path`. Returns a
/// descriptor >= 3 (a low descriptor the kernel handed out is moved up and
/// closed) or a negated errno.
int BpfObjGet(const char *path);

/// Queries the info record of map `fd` into `*info` (zero-filled first).
/// Returns 0 or a negated errno.
int BpfMapGetInfo(int fd, struct bpf_map_info *info);

/// Called once per record by MapWalk: (stream, info, key, value, bytes in
/// the value buffer). The key buffer holds info.key_size bytes.
using MapRecordVisitor =
    std::function<void(std::ostream &, const struct bpf_map_info &, const void *key,
                       const void *value, uint64_t valueBufLen)>;

/// Test seam for MapWalk: called before each lookup with the 0-based record
/// index; a non-zero result is taken as the lookup's negated errno. The
/// kernel cannot be made to fail a lookup part way through a walk.
using MapWalkLookupHook = std::function<int(uint64_t recordIndex)>;

/// Installs (or, with an empty function, removes) the lookup seam.
void MapWalkSetLookupHook(MapWalkLookupHook hook);

/// Records asked for by the first batch call of a walk; the walk grows it
/// when the kernel's next bucket does not fit.
constexpr uint32_t kMapBatchRecords = 256;

/// Test seam for the batch commands: `records` replaces kMapBatchRecords;
/// 0 makes every batch command fail with EINVAL, as on a kernel without
/// them, so the walk and the deletion fall back to one record per call.
void MapBatchSetRecords(uint32_t records);

/// Visits every record of map `fd` in the kernel's key order, calling
/// `visit` once per record. Records are read with BPF_MAP_LOOKUP_BATCH, a
/// bounded batch at a time (the kernel hands out whole hash buckets, so a
/// record that vanishes meanwhile never makes the walk start over); when the
/// kernel or the map type has no batch command, and for per-CPU maps, one
/// BPF_MAP_GET_NEXT_KEY and BPF_MAP_LOOKUP_ELEM per record, the next key
/// fetched only after `visit` returned. Buffers are sized from the map's info
/// record; for BPF_MAP_TYPE_PERCPU_ARRAY the zeroed value buffer holds a slot
/// for every CPU the kernel could count, and at least get_possible_cpus()
/// slots. Returns 0 at the end of the map, -1 when a buffer cannot be
/// allocated, otherwise the negated errno of the failed step (a failed info
/// query ends the walk before any record is read, so the kernel never sees
/// buffers smaller than the map's records). Exits the process with 255 when
/// a per-CPU map meets a possible-CPU count below 1.
int MapWalk(int fd, const MapRecordVisitor &visit, std::ostream &os);

/// Deletes the `count` keys of `keySize` bytes each, laid out one after
/// another at `keys`, from map `fd`: with BPF_MAP_DELETE_BATCH, or one
/// BPF_MAP_DELETE_ELEM per key where the kernel has no batch command. Calls
/// `failed` with the key's position and the negated errno for every key that
/// could not be deleted, and goes on with the next. Returns the number of
/// keys not deleted.
size_t MapDeleteKeys(int fd, const unsigned char *keys, uint32_t keySize, size_t count,
                     const std::function<void(size_t index, int rc)> &failed);

/// Counts the CPUs listed in `in` (the possible-CPU file format, e.g.
/// "0-3,8-11\n"). Returns the count, 0 for no item, -1 for a malformed item.
int CountPossibleCpus(std::istream &in);

/// The possible-CPU count from /sys/devices/system/cpu/possible, read afresh
/// on every call: >= 1, 0 when the file is missing or empty, -1 when
/// malformed.
int get_possible_cpus();

/// The fatal path for a possible-CPU count below 1: logs, says so on
/// standard error and exits with status 255 (exit handlers run).
[[noreturn]] void PossibleCpusFatal(int count);

/// Bytes the kernel may write for one record of the map described by
/// `info`: value_size, or for per-CPU maps a slot for every CPU the kernel
/// could count (at least get_possible_cpus()). Exits the process with 255
/// when a BPF_MAP_TYPE_PERCPU_ARRAY meets a possible-CPU count below 1.
uint64_t MapValueBufferBytes(const struct bpf_map_info &info);

/// Per-CPU value buffer size: value_size rounded up to 8, times `cpus`.
uint64_t PerCpuValueBytes(uint32_t valueSize, int cpus);

#endif
