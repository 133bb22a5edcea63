#include "supervision/posixApiHelper.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>

namespace {

PosixApiHelper *BuiltIn()
{
   static PosixApiHelper helper;
   return &helper;
}

std::atomic<PosixApiHelper *> gInstance{nullptr};

} // namespace

PosixApiHelper *PosixApiHelper::getInstance()
{
   PosixApiHelper *helper = gInstance.load(std::memory_order_acquire);
   return helper != nullptr ? helper : BuiltIn();
}

PosixApiHelper *PosixApiHelper::setInstance(PosixApiHelper *helper)
{
   PosixApiHelper *previous = gInstance.exchange(helper, std::memory_order_acq_rel);
   return previous != nullptr ? previous : BuiltIn();
}

char *PosixApiHelper::dlerror() { return ::dlerror(); }
void *PosixApiHelper::dlopen(const char *file) { return ::dlopen(file, RTLD_LAZY); }
int PosixApiHelper::dlclose(void *handle) { return ::dlclose(handle); }
void *PosixApiHelper::dlsym(void *handle, const char *symbol) { return ::dlsym(handle, symbol); }

int PosixApiHelper::pthread_create(pthread_t *thread, const pthread_attr_t *attr,
                                   void *(*start)(void *), void *arg)
{
   return ::pthread_create(thread, attr, start, arg);
}

int PosixApiHelper::open(const char *path, int flags) { return ::open(path, flags); }
int PosixApiHelper::open(const char *path, int flags, mode_t mode)
{
   return ::open(path, flags, mode);
}
int PosixApiHelper::creat(const char *path, mode_t mode) { return ::creat(path, mode); }
int PosixApiHelper::fcntl(int fd, int cmd) { return ::fcntl(fd, cmd); }
int PosixApiHelper::fcntl(int fd, int cmd, long arg) { return ::fcntl(fd, cmd, arg); }
int PosixApiHelper::close(int fd) { return ::close(fd); }
ssize_t PosixApiHelper::write(int fd, const void *buf, size_t count)
{
   return ::write(fd, buf, count);
}
ssize_t PosixApiHelper::read(int fd, void *buf, size_t count) { return ::read(fd, buf, count); }
size_t PosixApiHelper::fwrite(const void *ptr, size_t size, size_t nmemb, FILE *stream)
{
   return ::fwrite(ptr, size, nmemb, stream);
}
