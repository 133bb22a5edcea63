#include "bpfproxy/bpfSyscall.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
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

MapWalkLookupHook gLookupHook;

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

inline uint64_t Ptr(const void *p)
{
   return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(p));
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

   uint64_t valueLen = info.value_size;
   if (info.type == BPF_MAP_TYPE_PERCPU_ARRAY) {
      int cpus = get_possible_cpus();
      if (cpus < 1) {
         PossibleCpusFatal(cpus);
      }
      // The kernel fills one slot per CPU it counts as possible, whatever
      // the file says; never give it fewer slots than it could fill.
      valueLen = PerCpuValueBytes(info.value_size, std::max(cpus, KernelMaxCpus()));
   }

   std::unique_ptr<unsigned char[]> key(new (std::nothrow) unsigned char[info.key_size]);
   if (!key) {
      return -1;
   }
   // Zeroed: slots the kernel does not fill read as 0, not as stale heap.
   std::unique_ptr<unsigned char[]> value(new (std::nothrow) unsigned char[valueLen]());
   if (!value) {
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
