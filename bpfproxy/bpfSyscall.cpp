#include "bpfproxy/bpfSyscall.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "lib/log/log.h"

namespace {

const char kPossibleCpusPath[] = "/sys/devices/system/cpu/possible";

const char kKernelMaxPath[] = "/sys/devices/system/cpu/kernel_max";

inline uint64_t Ptr(const void *p)
{
   return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(p));
}

MapWalkLookupHook gLookupHook;

uint32_t gBatchRecords = kMapBatchRecords;

// No bucket of a sane map comes near this; a batch never grows beyond it.
const uint32_t kMaxBatchRecords = 1u << 20;

// The kernel's ENOTSUPP, which user space headers do not define.
const int kENOTSUPP = 524;

// How a kernel without the batch commands, or a map type without them,
// refuses a batch call.
bool BatchUnsupported(int err)
{
   return err == EINVAL || err == kENOTSUPP || err == EOPNOTSUPP;
}

int64_t BatchSysCall(int cmd, BpfAttr *attr)
{
   if (gBatchRecords == 0) {
      errno = EINVAL;
      return -1;
   }
   return BpfSysCall(cmd, attr);
}

// The kernel gives these one value per possible CPU, each padded to 8 bytes.
bool IsPerCpuMap(uint32_t type)
{
   return type == BPF_MAP_TYPE_PERCPU_HASH || type == BPF_MAP_TYPE_PERCPU_ARRAY ||
          type == BPF_MAP_TYPE_LRU_PERCPU_HASH || type == BPF_MAP_TYPE_PERCPU_CGROUP_STORAGE;
}

template <typename T> std::unique_ptr<T[]> Alloc(uint64_t n)
{
   return std::unique_ptr<T[]>(new (std::nothrow) T[n]());
}

// The walk one record at a time: get-next-key, then lookup.
int WalkByKey(int fd, const struct bpf_map_info &info, uint64_t valueLen,
              const MapRecordVisitor &visit, std::ostream &os)
{
   std::unique_ptr<unsigned char[]> key = Alloc<unsigned char>(info.key_size);
   // Zeroed: slots the kernel does not fill read as 0, not as stale heap.
   std::unique_ptr<unsigned char[]> value = Alloc<unsigned char>(valueLen);
   if (!key || !value) {
      return -1;
   }
   const void *prevKey = nullptr;
   for (uint64_t index = 0;; index++) {
      BpfAttr attr;
      memset(&attr, 0, sizeof attr);
      attr.elem.map_fd = static_cast<uint32_t>(fd);
      attr.elem.key = Ptr(prevKey);
      attr.elem.value = Ptr(key.get());
      if (BpfSysCall(BPF_MAP_GET_NEXT_KEY, &attr) < 0) {
         return errno == ENOENT ? 0 : -errno;
      }
      if (gLookupHook) {
         int injected = gLookupHook(index);
         if (injected != 0) {
            return injected;
         }
      }
      memset(&attr, 0, sizeof attr);
      attr.elem.map_fd = static_cast<uint32_t>(fd);
      attr.elem.key = Ptr(key.get());
      attr.elem.value = Ptr(value.get());
      attr.elem.flags = 0;
      if (BpfSysCall(BPF_MAP_LOOKUP_ELEM, &attr) < 0) {
         return -errno;
      }
      visit(os, info, key.get(), value.get(), valueLen);
      // One buffer serves as the previous key and receives the next one.
      prevKey = key.get();
   }
}

// The walk a batch at a time. Sets *unsupported, reading nothing, when the
// first call is refused as a kernel without the command refuses it.
int WalkByBatch(int fd, const struct bpf_map_info &info, const MapRecordVisitor &visit,
                std::ostream &os, bool *unsupported)
{
   const uint64_t valueLen = info.value_size;
   // The token is a 4-byte bucket index for hash maps and a key for arrays.
   const uint32_t tokenLen = std::max<uint32_t>(info.key_size, 4);
   std::unique_ptr<unsigned char[]> in = Alloc<unsigned char>(tokenLen);
   std::unique_ptr<unsigned char[]> out = Alloc<unsigned char>(tokenLen);
   uint32_t records = gBatchRecords;
   std::unique_ptr<unsigned char[]> keys = Alloc<unsigned char>(uint64_t(records) * info.key_size);
   std::unique_ptr<unsigned char[]> values = Alloc<unsigned char>(records * valueLen);
   if (!in || !out || !keys || !values) {
      return -1;
   }
   bool first = true;
   for (uint64_t index = 0;;) {
      BpfAttr attr;
      memset(&attr, 0, sizeof attr);
      attr.batch.in_batch = first ? 0 : Ptr(in.get());
      attr.batch.out_batch = Ptr(out.get());
      attr.batch.keys = Ptr(keys.get());
      attr.batch.values = Ptr(values.get());
      attr.batch.count = records;
      attr.batch.map_fd = static_cast<uint32_t>(fd);
      int err = BatchSysCall(BPF_MAP_LOOKUP_BATCH, &attr) < 0 ? errno : 0;
      if (err == ENOSPC && attr.batch.count == 0) {
         // The next bucket does not fit: grow and ask again from the same token.
         if (records >= kMaxBatchRecords) {
            return -ENOSPC;
         }
         records *= 2;
         keys = Alloc<unsigned char>(uint64_t(records) * info.key_size);
         values = Alloc<unsigned char>(records * valueLen);
         if (!keys || !values) {
            return -1;
         }
         continue;
      }
      if (first && BatchUnsupported(err)) {
         *unsupported = true;
         return 0;
      }
      if (err != 0 && err != ENOENT) {
         return -err;
      }
      // A short count is not the end of the map; ENOENT is, and its records
      // still count.
      for (uint32_t i = 0; i < attr.batch.count; i++, index++) {
         if (gLookupHook) {
            int injected = gLookupHook(index);
            if (injected != 0) {
               return injected;
            }
         }
         visit(os, info, keys.get() + uint64_t(i) * info.key_size, values.get() + i * valueLen,
               valueLen);
      }
      if (err == ENOENT) {
         return 0;
      }
      std::swap(in, out);
      first = false;
   }
}

// The most CPUs this kernel can count as possible: kernel_max + 1, or the
// configured processors when that file is unreadable.
int KernelMaxCpus()
{
   std::ifstream in(kKernelMaxPath);
   long max = -1;
   if (in >> max && max >= 0 && max < (1 << 20)) {
      return static_cast<int>(max + 1);
   }
   long conf = sysconf(_SC_NPROCESSORS_CONF);
   return conf > 0 && conf < (1 << 20) ? static_cast<int>(conf) : 1;
}

} // namespace

int64_t BpfSysCall(int cmd, BpfAttr *attr)
{
   return syscall(__NR_bpf, cmd, attr, sizeof(*attr));
}

int BpfObjGet(const char *path)
{
   BpfAttr attr;
   memset(&attr, 0, sizeof attr);
   attr.obj.pathname = Ptr(path);
   int64_t rc = BpfSysCall(BPF_OBJ_GET, &attr);
   if (rc < 0) {
      return -errno;
   }
   int fd = static_cast<int>(rc);
   if (fd >= 3) {
      return fd;
   }
   // The kernel reuses a free low descriptor; keep 0-2 for the standard streams.
   int dup = fcntl(fd, F_DUPFD_CLOEXEC, 3);
   int savedErrno = errno;
   close(fd);
   if (dup >= 0) {
      return dup;
   }
   errno = savedErrno;
   return -savedErrno;
}

int BpfMapGetInfo(int fd, struct bpf_map_info *info)
{
   memset(info, 0, sizeof *info);
   BpfAttr attr;
   memset(&attr, 0, sizeof attr);
   attr.info.bpf_fd = static_cast<uint32_t>(fd);
   attr.info.info_len = sizeof *info;
   attr.info.info = Ptr(info);
   return BpfSysCall(BPF_OBJ_GET_INFO_BY_FD, &attr) < 0 ? -errno : 0;
}

void MapWalkSetLookupHook(MapWalkLookupHook hook)
{
   gLookupHook = std::move(hook);
}

uint64_t PerCpuValueBytes(uint32_t valueSize, int cpus)
{
   uint32_t rounded = ((valueSize - 1) | 7) + 1;
   return static_cast<uint64_t>(rounded) * static_cast<uint64_t>(cpus);
}

void MapBatchSetRecords(uint32_t records)
{
   gBatchRecords = records;
}

int MapWalk(int fd, const MapRecordVisitor &visit, std::ostream &os)
{
   struct bpf_map_info info;
   int rc = BpfMapGetInfo(fd, &info);
   if (rc != 0) {
      // Without the info record the real key and value sizes are unknown.
      return rc;
   }
   if (info.key_size == 0 || info.value_size == 0) {
      // The kernel never creates such a map; refuse rather than hand it
      // zero-length buffers.
      return -EINVAL;
   }
   if (!IsPerCpuMap(info.type)) {
      bool unsupported = false;
      rc = WalkByBatch(fd, info, visit, os, &unsupported);
      if (!unsupported) {
         return rc;
      }
      return WalkByKey(fd, info, info.value_size, visit, os);
   }
   // Per-CPU values come packed at the kernel's own CPU count, which the
   // tool can only bound from above: one record per call, into a buffer
   // that surely holds it.
   return WalkByKey(fd, info, MapValueBufferBytes(info), visit, os);
}

uint64_t MapValueBufferBytes(const struct bpf_map_info &info)
{
   if (!IsPerCpuMap(info.type)) {
      return info.value_size;
   }
   int cpus = get_possible_cpus();
   if (info.type == BPF_MAP_TYPE_PERCPU_ARRAY && cpus < 1) {
      PossibleCpusFatal(cpus);
   }
   // The kernel fills one slot per CPU it counts as possible, whatever the
   // file says; never give it fewer slots than it could fill.
   return PerCpuValueBytes(info.value_size, std::max(cpus, KernelMaxCpus()));
}

size_t MapDeleteKeys(int fd, const unsigned char *keys, uint32_t keySize, size_t count,
                     const std::function<void(size_t index, int rc)> &failed)
{
   size_t failures = 0;
   bool batch = true;
   for (size_t next = 0; next < count;) {
      BpfAttr attr;
      memset(&attr, 0, sizeof attr);
      int err;
      if (batch) {
         attr.batch.keys = Ptr(keys + next * keySize);
         attr.batch.count = static_cast<uint32_t>(std::min<size_t>(count - next, kMaxBatchRecords));
         attr.batch.map_fd = static_cast<uint32_t>(fd);
         const uint32_t asked = attr.batch.count;
         err = BatchSysCall(BPF_MAP_DELETE_BATCH, &attr) < 0 ? errno : 0;
         // The keys before the one that failed are gone; a kernel that
         // refuses the command leaves the count as it was.
         uint32_t deleted = err != 0 && attr.batch.count == asked ? 0 : attr.batch.count;
         next += deleted;
         if (deleted == 0 && (err == 0 || BatchUnsupported(err))) {
            batch = false;
            continue;
         }
      } else {
         attr.elem.map_fd = static_cast<uint32_t>(fd);
         attr.elem.key = Ptr(keys + next * keySize);
         err = BpfSysCall(BPF_MAP_DELETE_ELEM, &attr) < 0 ? errno : 0;
         if (err == 0) {
            next++;
         }
      }
      if (err != 0) {
         failed(next, -err);
         failures++;
         next++;
      }
   }
   return failures;
}

int CountPossibleCpus(std::istream &in)
{
   std::string item;
   int64_t count = 0;
   bool any = false;
   while (std::getline(in, item, ',')) {
      if (item.empty()) {
         continue;
      }
      any = true;
      std::vector<std::string> pieces;
      size_t start = 0;
      for (;;) {
         size_t dash = item.find('-', start);
         if (dash == std::string::npos) {
            if (start < item.size()) {
               pieces.push_back(item.substr(start));
            }
            break;
         }
         pieces.push_back(item.substr(start, dash - start));
         start = dash + 1;
      }
      if (pieces.size() <= 1) {
         count += 1;
      } else if (pieces.size() == 2) {
         int lo = 0;
         int hi = 0;
         std::istringstream(pieces[0]) >> lo;
         std::istringstream(pieces[1]) >> hi;
         if (hi <= lo) {
            return -1;
         }
         count += static_cast<int64_t>(hi) - lo + 1;
         if (count > INT32_MAX) {
            return -1;
         }
      } else {
         return -1;
      }
   }
   return any ? static_cast<int>(count) : 0;
}

int get_possible_cpus()
{
   std::ifstream in(kPossibleCpusPath);
   return CountPossibleCpus(in);
}

void PossibleCpusFatal(int count)
{
   Log_Level(2, "get_possible_cpus return -1\n");
   std::cerr << "fwdmaps: " << kPossibleCpusPath << ": possible CPU count is " << count
             << ", need at least 1" << std::endl;
   std::exit(255);
}
