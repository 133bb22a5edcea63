/// PosixApiHelper: the supervision layer's one seam. Every POSIX call of the
/// pipe connection goes through the process-wide instance, so a test can put
/// a replacement in front of the kernel (e.g. one that fails with EINTR) and
/// forward the rest. Each operation returns what the POSIX call of the same
/// name returns and leaves its errno.
///
/// Thread safe: the instance pointer is atomic and the operations keep no
/// state. A replacement must stay alive while it is installed.
#ifndef SUPERVISION_POSIXAPIHELPER_H
#define SUPERVISION_POSIXAPIHELPER_H

#include <pthread.h>
#include <stdio.h>
#include <sys/types.h>

class PosixApiHelper
{
 public:
   PosixApiHelper() = default;
   virtual ~PosixApiHelper() = default;
   PosixApiHelper(const PosixApiHelper &) = delete;
   PosixApiHelper &operator=(const PosixApiHelper &) = delete;

   /// The installed instance; the built-in one until setInstance is called.
   static PosixApiHelper *getInstance();
   /// Installs `helper` (null: the built-in one) and returns the previous
   /// instance. The caller keeps ownership of what it installs.
   static PosixApiHelper *setInstance(PosixApiHelper *helper);

   virtual char *dlerror();
   /// dlopen with RTLD_LAZY.
   virtual void *dlopen(const char *file);
   virtual int dlclose(void *handle);
   virtual void *dlsym(void *handle, const char *symbol);
   virtual int pthread_create(pthread_t *thread, const pthread_attr_t *attr,
                              void *(*start)(void *), void *arg);
   virtual int open(const char *path, int flags);
   virtual int open(const char *path, int flags, mode_t mode);
   virtual int creat(const char *path, mode_t mode);
   virtual int fcntl(int fd, int cmd);
   virtual int fcntl(int fd, int cmd, long arg);
   virtual int close(int fd);
   virtual ssize_t write(int fd, const void *buf, size_t count);
   virtual ssize_t read(int fd, void *buf, size_t count);
   virtual size_t fwrite(const void *ptr, size_t size, size_t nmemb, FILE *stream);
};

#endif
