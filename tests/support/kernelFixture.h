/// Kernel fixtures shared by the integration tests: private mount and
/// network namespaces, a private bpffs, and maps of the proxy's types and
/// sizes built with the raw bpf syscall. The process tests get temporary
/// directories and child processes with it.
#ifndef TESTS_SUPPORT_KERNELFIXTURE_H
#define TESTS_SUPPORT_KERNELFIXTURE_H

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/childProcess.h"
#include "support/tempDir.h"

namespace fwdtest {

/// True when FWD_REQUIRE_KERNEL=1: a missing kernel feature is a failure.
bool KernelRequired();

/// Skips the current test with `why`, or fails it when the kernel is
/// required. Usable in SetUp and in test bodies (returns from the caller).
#define FWD_SKIP_OR_FAIL(why)                                                                      \
   do {                                                                                            \
      if (::fwdtest::KernelRequired()) {                                                           \
         FAIL() << (why);                                                                          \
      } else {                                                                                     \
         GTEST_SKIP() << (why);                                                                    \
      }                                                                                            \
   } while (0)

/// Moves the calling process into fresh mount and network namespaces and
/// makes every mount private, so nothing done afterwards reaches the host.
/// Done once per process; later calls return the first result. Returns ""
/// or the reason it failed.
std::string EnterPrivateNamespaces();

/// Enters the private namespaces and overlays /etc, /usr/lib and /var
/// there, once per process, so that writes to them land in a tmpfs that
/// ends with the namespace. Returns "" or the reason it failed.
std::string OverlaySystemDirs();

/// Mounts a fresh bpffs at `dir` (created when missing). Call only inside
/// private namespaces. Returns "" or the reason.
std::string MountBpfFs(const std::string &dir);

/// Writes `content` to a temporary file and bind-mounts it over the
/// possible-CPU file. Call only inside private namespaces. Returns "" or the
/// reason.
std::string BindPossibleCpus(const std::string &content);

/// Raw bpf syscall helpers: each returns a descriptor or 0 on success, or a
/// negated errno.
int UpdateElem(int fd, const void *key, const void *value, uint64_t flags = 0);
int LookupElem(int fd, const void *key, void *value);
int DeleteElem(int fd, const void *key);
/// Number of keys in map `fd` (a get-next-key walk), or a negated errno.
long CountKeys(int fd, uint32_t keySize);

/// An error-log record as the proxy stores it: a 16-byte key (time, id,
/// zero padding) and a 44-byte value. Addresses are text of one family;
/// ports are in host order; ip_ver is 4 or 6 from the family unless `ipVer`
/// is given. `ok` is false when an address does not parse.
struct ErrLogBytes
{
   unsigned char key[16] = {}, value[44] = {};
   bool ok = false;
};
ErrLogBytes MakeErrLog(uint64_t timeNs, uint32_t extraId, const std::string &sip,
                       const std::string &dip, uint32_t err, uint16_t l4proto, uint16_t sport,
                       uint16_t dport, int ipVer = -1);

/// One of the proxy's maps: name, kernel type and sizes.
struct MapLayout
{
   std::string name;
   uint32_t type, keySize, valueSize, maxEntries;
};

/// The five maps as the proxy's kernel programs declare them, in registry
/// order: label_port_map, worker_port_map, bpf_fwd_stats, bpf_fwd_err,
/// bpf_fwd_err_log.
std::vector<MapLayout> ProxyMapLayouts(uint32_t labelEntries = 256);

/// The five proxy maps, created and pinned below <bpffs>/tc/globals/, with
/// fillers that take ports in host byte order.
class ProxyMaps
{
 public:
   ProxyMaps() = default;
   ~ProxyMaps();
   ProxyMaps(const ProxyMaps &) = delete;
   ProxyMaps &operator=(const ProxyMaps &) = delete;

   /// Creates and pins every map of `layouts` (default: ProxyMapLayouts()).
   /// Returns "" or the reason.
   std::string Create(const std::string &bpffs, std::vector<MapLayout> layouts = {});
   /// Descriptor of map `name`, or -1.
   int fd(const std::string &name) const { return mFds.count(name) != 0 ? mFds.at(name) : -1; }

   int AddLabelPort(uint32_t label, uint16_t port);
   int AddWorkerPort(uint16_t port);
   /// Sets the per-CPU counters of `index`; `perCpu` has one value per
   /// possible CPU (missing ones are 0).
   int SetStats(uint32_t index, const std::vector<uint64_t> &perCpu);
   int SetErrCount(uint32_t code, uint64_t count)
   {
      return UpdateElem(fd("bpf_fwd_err"), &code, &count);
   }
   /// Adds one error-log record. Addresses are text of one family; ip_ver
   /// is 4 for IPv4 and 6 for IPv6 unless `ipVer` overrides it.
   int AddErrLog(uint64_t timeNs, uint32_t extraId, const std::string &sip, const std::string &dip,
                 uint32_t err, uint16_t l4proto, uint16_t sport, uint16_t dport, int ipVer = -1);

 private:
   std::map<std::string, int> mFds;
};

/// Fixture: private namespaces (entered once per process) and a fresh bpffs
/// at /sys/fs/bpf, where the tool looks by default.
class PrivateBpfFsTest : public ::testing::Test
{
 protected:
   void SetUp() override;
   std::string mBpfFs = "/sys/fs/bpf";
};

/// PrivateBpfFsTest with the five proxy maps created and pinned in it.
class ProxyMapsTest : public PrivateBpfFsTest
{
 protected:
   void SetUp() override;
   /// Error-log records left in the map.
   long LogRecords() const { return CountKeys(mMaps.fd("bpf_fwd_err_log"), 16); }
   ProxyMaps mMaps;
};

#ifdef FWD_TEST_PROXY_OBJ
/// PrivateBpfFsTest for attaching the test proxy with tc: skips (or fails)
/// when the object was not built or iproute2 is missing; brings lo up.
class TestProxyTest : public PrivateBpfFsTest
{
 protected:
   void SetUp() override
   {
      PrivateBpfFsTest::SetUp();
      if (IsSkipped() || HasFatalFailure()) {
         return;
      }
      if (!std::filesystem::exists(FWD_TEST_PROXY_OBJ)) {
         FWD_SKIP_OR_FAIL(std::string("test proxy not built (is clang installed?): ") +
                          FWD_TEST_PROXY_OBJ);
      }
      if (RunProcess({"/bin/sh", "-c", "tc -V && ip link set lo up"}).status != 0) {
         FWD_SKIP_OR_FAIL("tc or ip (iproute2) is missing");
      }
   }
};
#endif

/// ProxyMapLayouts() with the layouts of the same names replaced by `odd`.
std::vector<MapLayout> ProxyMapLayoutsWith(const std::vector<MapLayout> &odd);

/// Removes the five proxy pins below `bpffs`, so a test can pin afresh.
void RemoveProxyPins(const std::string &bpffs);

/// The lines of `text`, sorted (hash maps list in the kernel's order).
std::vector<std::string> SortedLines(const std::string &text);

} // namespace fwdtest

#endif
