#include "bpfproxy/bpfMapRegistry.h"

#include <errno.h>
#include <string.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <ostream>

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

// The printers are defined in tool/, next to the output formats they write;
// taking their addresses here is why fwd_bpfproxy and fwd_tool link each
// other.
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
   mPrinters[kLabelPortMapName] = &BpfMapRegistry::printLabelPortMap;
   mPrinters[kWorkerPortMapName] = &BpfMapRegistry::printWorkerPortMap;
   mPrinters[kFwdStatsMapName] = &BpfMapRegistry::printFwdStats;
   mPrinters[kFwdErrMapName] = &BpfMapRegistry::printFwdErr;
   mPrinters[kFwdErrLogMapName] = &BpfMapRegistry::printFwdErrLog;
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
   if (name == kFwdErrLogMapName) {
      // The remembered keys belong to one listing: what an earlier listing
      // left (its output failed) is not this one's to delete.
      ClearListedErrLogKeys();
   }
   MapRecordPrinter print = printer->second;
   int rc = MapWalk(
       fd->second,
       [this, print](std::ostream &out, const struct bpf_map_info &info, const void *key,
                     const void *value, uint64_t valueBufLen) {
          mValueBufLen = valueBufLen;
          (this->*print)(out, info, key, value);
       },
       os);
   mValueBufLen = 0;
   return rc;
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

int BpfMapRegistry::DeleteMapElem(const std::string &name, const void *key)
{
   return MapElemOp(BPF_MAP_DELETE_ELEM, name, key, nullptr, 0);
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

int BpfMapRegistry::DeleteListedErrLogRecords(std::ostream &errOs)
{
   int failed = 0;
   for (const std::vector<unsigned char> &key : mErrLogKeys) {
      int rc = DeleteMapElem(kFwdErrLogMapName, key.data());
      if (rc != 0) {
         errOs << "delete log file failed. ret: " << rc << " map name: " << kFwdErrLogMapName
               << std::endl;
         failed++;
      }
   }
   ClearListedErrLogKeys();
   return failed;
}

void BpfMapRegistry::ClearListedErrLogKeys()
{
   mErrLogKeys.clear();
   mErrLogKeyIndex.clear();
}

void BpfMapRegistry::WarnShortRecord(const char *mapName, const struct bpf_map_info &info,
                                     uint32_t needKey, uint64_t needValue)
{
   if (!mShortWarned.insert(mapName).second) {
      return;
   }
   std::cerr << "fwdmaps: " << mapName << ": skipping records shorter than " << needKey
             << "-byte key and " << needValue << "-byte value (map has " << info.key_size
             << "-byte key and " << info.value_size << "-byte value)" << std::endl;
}
