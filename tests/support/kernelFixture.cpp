#include "support/kernelFixture.h"

#include <arpa/inet.h>
#include <errno.h>
#include <linux/bpf.h>
#include <sched.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "bpfproxy/bpfSyscall.h"

namespace fwdtest {

namespace {

const char kPossibleCpus[] = "/sys/devices/system/cpu/possible";

std::string Reason(const std::string &what)
{
   return what + ": " + strerror(errno);
}

uint64_t Ptr(const void *p)
{
   return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(p));
}

// One element command; BPF_MAP_GET_NEXT_KEY takes the next key at `value`.
int ElemCall(int cmd, int fd, const void *key, const void *value, uint64_t flags)
{
   BpfAttr attr = {};
   attr.elem = {static_cast<uint32_t>(fd), 0, Ptr(key), Ptr(value), flags};
   return BpfSysCall(cmd, &attr) < 0 ? -errno : 0;
}

} // namespace

bool KernelRequired()
{
   const char *v = getenv("FWD_REQUIRE_KERNEL");
   return v != nullptr && strcmp(v, "1") == 0;
}

std::string EnterPrivateNamespaces()
{
   static const std::string why = []() -> std::string {
      if (unshare(CLONE_NEWNS | CLONE_NEWNET) != 0) {
         return Reason("unshare(CLONE_NEWNS|CLONE_NEWNET)");
      }
      if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
         return Reason("mount --make-rprivate /");
      }
      return "";
   }();
   return why;
}

std::string OverlaySystemDirs()
{
   static const std::string why = []() -> std::string {
      std::string entered = EnterPrivateNamespaces();
      if (!entered.empty()) {
         return "private namespaces unavailable: " + entered;
      }
      // The tmpfs lives only in this namespace; its mount point, an empty
      // directory on the host, goes at exit.
      static char scratch[] = "/tmp/prefsys.XXXXXX";
      if (mkdtemp(scratch) == nullptr) {
         return Reason("mkdtemp");
      }
      atexit([] {
         umount2(scratch, MNT_DETACH);
         rmdir(scratch);
      });
      if (mount("tmpfs", scratch, "tmpfs", 0, "mode=0755") != 0) {
         return Reason("mount tmpfs");
      }
      for (const char *dir : {"/etc", "/usr/lib", "/var"}) {
         std::string base = std::string(scratch) + dir;
         std::filesystem::create_directories(base + "/upper");
         std::filesystem::create_directories(base + "/work");
         std::string opts = std::string("lowerdir=") + dir + ",upperdir=" + base +
                            "/upper,workdir=" + base + "/work";
         if (mount("overlay", dir, "overlay", 0, opts.c_str()) != 0) {
            return Reason(std::string("mount overlay on ") + dir);
         }
      }
      return "";
   }();
   return why;
}

std::string MountBpfFs(const std::string &dir)
{
   std::error_code ec;
   std::filesystem::create_directories(dir, ec);
   if (mount("bpf", dir.c_str(), "bpf", 0, nullptr) != 0) {
      return Reason("mount -t bpf bpf " + dir);
   }
   return "";
}

std::string BindPossibleCpus(const std::string &content)
{
   // The mount holds the file's inode; the directory goes at once, so
   // nothing stays in /tmp however the test ends.
   TempDir dir;
   std::string file = dir.path() + "/possible";
   if (!(std::ofstream(file, std::ios::trunc) << content).flush()) {
      return "cannot write " + file;
   }
   // An earlier bind holds an unlinked file, which cannot be mounted over.
   while (umount2(kPossibleCpus, MNT_DETACH) == 0) {
   }
   if (mount(file.c_str(), kPossibleCpus, nullptr, MS_BIND, nullptr) != 0) {
      return Reason(std::string("bind mount over ") + kPossibleCpus);
   }
   return "";
}

int UpdateElem(int fd, const void *key, const void *value, uint64_t flags)
{
   return ElemCall(BPF_MAP_UPDATE_ELEM, fd, key, value, flags);
}

int LookupElem(int fd, const void *key, void *value)
{
   return ElemCall(BPF_MAP_LOOKUP_ELEM, fd, key, value, 0);
}

int DeleteElem(int fd, const void *key)
{
   return ElemCall(BPF_MAP_DELETE_ELEM, fd, key, nullptr, 0);
}

long CountKeys(int fd, uint32_t keySize)
{
   // The kernel reads the key before it writes the next one: one buffer does.
   std::vector<unsigned char> key(keySize);
   long count = 0;
   int rc;
   while ((rc = ElemCall(BPF_MAP_GET_NEXT_KEY, fd, count > 0 ? key.data() : nullptr, key.data(),
                         0)) == 0) {
      count++;
   }
   return rc == -ENOENT ? count : rc;
}

std::vector<MapLayout> ProxyMapLayouts(uint32_t labelEntries)
{
   return {
       {"label_port_map", BPF_MAP_TYPE_HASH, 4, 2, labelEntries},
       {"worker_port_map", BPF_MAP_TYPE_HASH, 2, 4, 256},
       {"bpf_fwd_stats", BPF_MAP_TYPE_PERCPU_ARRAY, 4, 8, 4},
       {"bpf_fwd_err", BPF_MAP_TYPE_ARRAY, 4, 8, 5},
       {"bpf_fwd_err_log", BPF_MAP_TYPE_HASH, 16, 44, 1024},
   };
}

ProxyMaps::~ProxyMaps()
{
   for (auto &entry : mFds) {
      close(entry.second);
   }
}

std::string ProxyMaps::Create(const std::string &bpffs, std::vector<MapLayout> layouts)
{
   if (layouts.empty()) {
      layouts = ProxyMapLayouts();
   }
   // A directory that cannot be made shows as the first pin's failure.
   std::string dir = bpffs + "/tc/globals";
   std::error_code ec;
   std::filesystem::create_directories(dir, ec);
   for (const MapLayout &layout : layouts) {
      union bpf_attr create;
      memset(&create, 0, sizeof create);
      create.map_type = layout.type;
      create.key_size = layout.keySize;
      create.value_size = layout.valueSize;
      create.max_entries = layout.maxEntries;
      strncpy(create.map_name, layout.name.c_str(), sizeof create.map_name - 1);
      int fd = static_cast<int>(syscall(__NR_bpf, BPF_MAP_CREATE, &create, sizeof create));
      if (fd < 0) {
         return Reason("BPF_MAP_CREATE " + layout.name);
      }
      mFds[layout.name] = fd;
      const std::string pin = dir + "/" + layout.name;
      BpfAttr attr = {};
      attr.obj.pathname = Ptr(pin.c_str());
      attr.obj.bpf_fd = static_cast<uint32_t>(fd);
      if (BpfSysCall(BPF_OBJ_PIN, &attr) < 0) {
         return Reason("BPF_OBJ_PIN " + pin);
      }
   }
   return "";
}

int ProxyMaps::AddLabelPort(uint32_t label, uint16_t port)
{
   uint16_t netPort = htons(port);
   return UpdateElem(fd("label_port_map"), &label, &netPort);
}

int ProxyMaps::AddWorkerPort(uint16_t port)
{
   uint16_t netPort = htons(port);
   uint32_t present = 1;
   return UpdateElem(fd("worker_port_map"), &netPort, &present);
}

int ProxyMaps::SetStats(uint32_t index, const std::vector<uint64_t> &perCpu)
{
   // The kernel copies one 8-byte slot per possible CPU.
   std::vector<uint64_t> value(perCpu);
   value.resize(std::max(get_possible_cpus(), 1));
   return UpdateElem(fd("bpf_fwd_stats"), &index, value.data());
}

ErrLogBytes MakeErrLog(uint64_t timeNs, uint32_t extraId, const std::string &sip,
                       const std::string &dip, uint32_t err, uint16_t l4proto, uint16_t sport,
                       uint16_t dport, int ipVer)
{
   ErrLogBytes b;
   memcpy(b.key, &timeNs, 8);
   memcpy(b.key + 8, &extraId, 4);
   bool v4 = sip.find(':') == std::string::npos;
   int family = v4 ? AF_INET : AF_INET6;
   b.ok = inet_pton(family, dip.c_str(), b.value) == 1 &&
          inet_pton(family, sip.c_str(), b.value + 16) == 1;
   uint16_t ver = static_cast<uint16_t>(ipVer >= 0 ? ipVer : (v4 ? 4 : 6));
   uint16_t netSport = htons(sport), netDport = htons(dport);
   memcpy(b.value + 32, &err, 4);
   memcpy(b.value + 36, &ver, 2);
   memcpy(b.value + 38, &l4proto, 2);
   memcpy(b.value + 40, &netSport, 2);
   memcpy(b.value + 42, &netDport, 2);
   return b;
}

int ProxyMaps::AddErrLog(uint64_t timeNs, uint32_t extraId, const std::string &sip,
                         const std::string &dip, uint32_t err, uint16_t l4proto, uint16_t sport,
                         uint16_t dport, int ipVer)
{
   ErrLogBytes b = MakeErrLog(timeNs, extraId, sip, dip, err, l4proto, sport, dport, ipVer);
   return b.ok ? UpdateElem(fd("bpf_fwd_err_log"), b.key, b.value) : -EINVAL;
}

void PrivateBpfFsTest::SetUp()
{
   std::string entered = EnterPrivateNamespaces();
   if (!entered.empty()) {
      FWD_SKIP_OR_FAIL("private namespaces unavailable: " + entered);
   }
   std::string why = MountBpfFs(mBpfFs);
   if (!why.empty()) {
      FWD_SKIP_OR_FAIL("bpffs unavailable: " + why);
   }
}

void ProxyMapsTest::SetUp()
{
   PrivateBpfFsTest::SetUp();
   if (IsSkipped() || HasFatalFailure()) {
      return;
   }
   std::string why = mMaps.Create(mBpfFs);
   if (!why.empty()) {
      FWD_SKIP_OR_FAIL("cannot build the proxy maps: " + why);
   }
}

std::vector<MapLayout> ProxyMapLayoutsWith(const std::vector<MapLayout> &odd)
{
   std::vector<MapLayout> layouts = ProxyMapLayouts();
   for (const MapLayout &layout : odd) {
      for (MapLayout &s : layouts) {
         s = s.name == layout.name ? layout : s;
      }
   }
   return layouts;
}

void RemoveProxyPins(const std::string &bpffs)
{
   for (const MapLayout &s : ProxyMapLayouts()) {
      unlink((bpffs + "/tc/globals/" + s.name).c_str());
   }
}

std::vector<std::string> SortedLines(const std::string &text)
{
   std::vector<std::string> lines;
   std::istringstream in(text);
   for (std::string line; std::getline(in, line);) {
      lines.push_back(line);
   }
   std::sort(lines.begin(), lines.end());
   return lines;
}

} // namespace fwdtest
