#include "bpfproxy/bpfMapRegistry.h"

#include <errno.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "lib/config/config.h"

const char *const kLabelPortMapName = "label_port_map";
const char *const kWorkerPortMapName = "worker_port_map";
const char *const kFwdStatsMapName = "bpf_fwd_stats";
const char *const kFwdErrMapName = "bpf_fwd_err";
const char *const kFwdErrLogMapName = "bpf_fwd_err_log";

namespace {

const char kDefaultFsPath[] = "/sys/fs/bpf/";

inline uint64_t Ptr(const void *p)
{
   return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(p));
}

} // namespace

BpfMapRegistry::BpfMapRegistry()
    : mMapNames{kLabelPortMapName, kWorkerPortMapName, kFwdStatsMapName, kFwdErrMapName,
                kFwdErrLogMapName},
      mFsPath(kDefaultFsPath)
{
   char *configured = Config_GetString(kDefaultFsPath, "BpfProxy.FsPath");
   if (configured != nullptr) {
      mFsPath = configured;
      free(configured);
   }
}

BpfMapRegistry::~BpfMapRegistry() = default;

std::vector<std::string> BpfMapRegistry::GetMapNames() const
{
   return mMapNames;
}

std::string BpfMapRegistry::BuildPinPath(const std::string &name) const
{
   return mFsPath + "/tc/globals/" + name;
}

int BpfMapRegistry::GetMapFd(const std::string &name) const
{
   auto it = mMapFds.find(name);
   return it == mMapFds.end() ? -1 : it->second;
}

int BpfMapRegistry::OpenAllMaps()
{
   for (const std::string &name : mMapNames) {
      int fd = BpfObjGet(BuildPinPath(name).c_str());
      mMapFds[name] = fd;
      if (fd < 0) {
         return -1;
      }
   }
   return 0;
}

int BpfMapRegistry::ReopenMap(const std::string &name)
{
   if (std::find(mMapNames.begin(), mMapNames.end(), name) == mMapNames.end()) {
      return -1;
   }
   int fd = BpfObjGet(BuildPinPath(name).c_str());
   if (fd < 0) {
      return fd;
   }
   auto old = mMapFds.find(name);
   if (old != mMapFds.end() && old->second >= 0) {
      close(old->second);
   }
   mMapFds[name] = fd;
   return 0;
}

int BpfMapRegistry::SetPrinter(const std::string &name, MapRecordPrinter printer)
{
   if (std::find(mMapNames.begin(), mMapNames.end(), name) == mMapNames.end()) {
      return -1;
   }
   if (printer) {
      mPrinters[name] = std::move(printer);
   } else {
      mPrinters.erase(name);
   }
   return 0;
}

int BpfMapRegistry::DumpMap(std::ostream &os, const std::string &name)
{
   auto printer = mPrinters.find(name);
   if (printer == mPrinters.end()) {
      return -1;
   }
   auto fd = mMapFds.find(name);
   if (fd == mMapFds.end() || fd->second < 0) {
      return -1;
   }
   return MapWalk(fd->second, printer->second, os);
}

int BpfMapRegistry::MapElemOp(int cmd, const std::string &name, const void *key, const void *value,
                              uint64_t flags)
{
   auto fd = mMapFds.find(name);
   if (fd == mMapFds.end()) {
      return -1;
   }
   BpfAttr attr;
   memset(&attr, 0, sizeof attr);
   attr.elem.map_fd = static_cast<uint32_t>(fd->second);
   attr.elem.key = Ptr(key);
   attr.elem.value = Ptr(value);
   attr.elem.flags = flags;
   return BpfSysCall(cmd, &attr) < 0 ? -errno : 0;
}

int BpfMapRegistry::UpdateMapElem(const std::string &name, const void *key, const void *value,
                                  uint64_t flags)
{
   return MapElemOp(BPF_MAP_UPDATE_ELEM, name, key, value, flags);
}

int BpfMapRegistry::LookupMapElem(const std::string &name, const void *key, void *value)
{
   return MapElemOp(BPF_MAP_LOOKUP_ELEM, name, key, value, 0);
}

int BpfMapRegistry::DeleteMapElem(const std::string &name, const void *key)
{
   return MapElemOp(BPF_MAP_DELETE_ELEM, name, key, nullptr, 0);
}

size_t BpfMapRegistry::DeleteMapElems(const std::string &name, const unsigned char *keys,
                                      uint32_t keySize, size_t count,
                                      const std::function<void(size_t index, int rc)> &failed)
{
   auto fd = mMapFds.find(name);
   if (fd == mMapFds.end()) {
      for (size_t i = 0; i < count; i++) {
         failed(i, -1);
      }
      return count;
   }
   return MapDeleteKeys(fd->second, keys, keySize, count, failed);
}

int BpfMapRegistry::AddWorkerPort(uint16_t port)
{
   uint32_t present = 1;
   return UpdateMapElem(mMapNames[1], &port, &present, BPF_ANY);
}

int BpfMapRegistry::SetLabelPort(uint32_t label, uint16_t port)
{
   return UpdateMapElem(mMapNames[0], &label, &port, BPF_ANY);
}

int BpfMapRegistry::RemoveWorkerPort(uint16_t port)
{
   return DeleteMapElem(mMapNames[1], &port);
}

int BpfMapRegistry::RemoveLabelPort(uint32_t label)
{
   return DeleteMapElem(mMapNames[0], &label);
}

bool BpfMapRegistry::IsMapPinned() const
{
   int fd = BpfObjGet(BuildPinPath(mMapNames[0]).c_str());
   if (fd < 0) {
      return false;
   }
   close(fd);
   return true;
}

void BpfMapRegistry::UnpinAllMaps()
{
   for (const std::string &name : mMapNames) {
      unlink(BuildPinPath(name).c_str());
   }
}
