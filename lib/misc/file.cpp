// Directories of the file library.
#include <errno.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "lib/misc/file.h"
#include "lib/misc/util.h"

namespace {

std::string FileUserName(uid_t uid)
{
   char buf[4096];
   struct passwd pw;
   struct passwd *found = NULL;
   if (getpwuid_r(uid, &pw, buf, sizeof buf, &found) == 0 && found != NULL &&
       found->pw_name[0] != '\0' && strchr(found->pw_name, '/') == NULL) {
      return found->pw_name;
   }
   return std::to_string((unsigned long)uid);
}

} // namespace

char *File_GetSafeTmpDir(void)
{
   const char *base = getenv("TMPDIR");
   if (base == NULL || base[0] != '/') {
      base = "/tmp";
   }
   uid_t uid = geteuid();
   std::string dir = std::string(base) + "/keltria-" + FileUserName(uid);

   if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
      return NULL;
   }
   // Another user may have put something there first: trust only a real
   // directory of our own, and only once nobody else can enter it.
   struct stat st;
   if (lstat(dir.c_str(), &st) != 0) {
      return NULL;
   }
   if (S_ISLNK(st.st_mode)) {
      errno = ELOOP;
      return NULL;
   }
   if (!S_ISDIR(st.st_mode)) {
      errno = ENOTDIR;
      return NULL;
   }
   if (st.st_uid != uid) {
      errno = EPERM;
      return NULL;
   }
   if ((st.st_mode & 07777) != 0700 && chmod(dir.c_str(), 0700) != 0) {
      return NULL;
   }
   return Util_SafeStrdup(dir.c_str());
}

Bool File_EnsureDirectory(const char *path, mode_t mode)
{
   if (path == NULL || path[0] == '\0') {
      errno = ENOENT;
      return FALSE;
   }
   std::string p(path);
   for (size_t i = 1; i <= p.size(); i++) {
      if (i < p.size() && p[i] != '/') {
         continue;
      }
      std::string part = p.substr(0, i);
      if (mkdir(part.c_str(), mode) != 0 && errno != EEXIST) {
         return FALSE;
      }
   }
   struct stat st;
   if (stat(path, &st) != 0) {
      return FALSE;
   }
   if (!S_ISDIR(st.st_mode)) {
      errno = ENOTDIR;
      return FALSE;
   }
   return TRUE;
}
