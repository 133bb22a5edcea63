// Path expansion: "~", "~user" and "$NAME" chunks.
#include "lib/misc/util.h"

#include <ctype.h>
#include <errno.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "lib/log/log.h"
#include "lib/panic/panic.h"

namespace {

const int kMaxChunks = 100;

Bool UtilIsNameByte(char c)
{
   return isalnum((unsigned char)c) || c == '_';
}

// Looks a user up in the password database; an empty name means the real
// user. Returns FALSE when there is no entry.
Bool UtilGetPasswd(const char *name, std::string *home, std::string *login, Bool *hasHome)
{
   long size = sysconf(_SC_GETPW_R_SIZE_MAX);
   std::vector<char> buf(size > 0 ? (size_t)size : 16384);
   struct passwd pw;
   struct passwd *result = NULL;
   for (;;) {
      int err = name[0] == '\0' ? getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &result)
                                : getpwnam_r(name, &pw, buf.data(), buf.size(), &result);
      if (err == ERANGE && buf.size() < (1u << 20)) {
         buf.resize(buf.size() * 2);
         continue;
      }
      break;
   }
   if (result == NULL) {
      return FALSE;
   }
   *hasHome = pw.pw_dir != NULL && pw.pw_dir[0] != '\0';
   if (*hasHome && home != NULL) {
      *home = pw.pw_dir;
   }
   if (login != NULL && pw.pw_name != NULL) {
      *login = pw.pw_name;
   }
   return TRUE;
}

std::string UtilExpandTilde(const std::string &chunk)
{
   std::string user = chunk.substr(1);
   if (user.empty()) {
      const char *home = getenv("HOME");
      if (home == NULL) {
         Log("Could not expand environment variable HOME.\n");
         return chunk;
      }
      return home;
   }
   std::string home;
   Bool hasHome = FALSE;
   if (!UtilGetPasswd(user.c_str(), &home, NULL, &hasHome)) {
      Log("Could not get passwd for user '%s'.\n", user.c_str());
      return chunk;
   }
   if (!hasHome) {
      Log("Could not get home directory for user.\n");
      return chunk;
   }
   return home;
}

std::string UtilExpandVariable(const std::string &chunk, const char *whole)
{
   std::string name = chunk.substr(1);
   if (name.empty()) {
      return chunk;
   }
   const char *value = getenv(name.c_str());
   if (value != NULL) {
      return value;
   }
   if (strcasecmp(name.c_str(), "PID") == 0) {
      char pid[32];
      snprintf(pid, sizeof pid, "%d", (int)getpid());
      return pid;
   }
   if (strcasecmp(name.c_str(), "USER") == 0) {
      std::string login;
      Bool hasHome = FALSE;
      if (UtilGetPasswd("", NULL, &login, &hasHome) && !login.empty()) {
         return login;
      }
      return "unknown";
   }
   Log("Environment variable '%s' not defined in '%s'.\n", name.c_str(), whole);
   return "";
}

} // namespace

char *Util_ExpandString(const char *fileName)
{
   if (fileName == NULL) {
      return NULL;
   }
   if (fileName[0] != '~' && strchr(fileName, '$') == NULL) {
      char *copy = strdup(fileName);
      if (copy == NULL) {
         Log("%s: Cannot allocate memory for the expansion of \"%s\".\n", __func__, fileName);
      }
      return copy;
   }

   // Split first so that an over-long text fails before anything is looked up.
   std::vector<std::string> chunks;
   const char *p = fileName;
   if (*p == '~') {
      const char *end = strchr(p, '/');
      size_t len = end == NULL ? strlen(p) : (size_t)(end - p);
      chunks.emplace_back(p, len);
      p += len;
   }
   while (*p != '\0') {
      if ((int)chunks.size() == kMaxChunks) {
         Log("%s: Filename \"%s\" has too many chunks.\n", __func__, fileName);
         return NULL;
      }
      const char *start = p;
      if (*p == '$') {
         p++;
         while (UtilIsNameByte(*p)) {
            p++;
         }
      } else {
         while (*p != '\0' && *p != '$') {
            p++;
         }
      }
      chunks.emplace_back(start, (size_t)(p - start));
   }

   std::string out;
   for (size_t i = 0; i < chunks.size(); i++) {
      const std::string &chunk = chunks[i];
      if (i == 0 && chunk[0] == '~') {
         out += UtilExpandTilde(chunk);
      } else if (chunk[0] == '$') {
         out += UtilExpandVariable(chunk, fileName);
      } else {
         out += chunk;
      }
   }
   char *result = strdup(out.c_str());
   if (result == NULL) {
      Log("%s: Cannot allocate memory to expand $ in \"%s\".\n", __func__, fileName);
   }
   return result;
}

void *Util_SafeCalloc(size_t count, size_t size)
{
   void *p = calloc(count == 0 ? 1 : count, size == 0 ? 1 : size);
   if (p == NULL) {
      Panic("VERIFY %s:%d\n", "vela/lib/misc/util", __LINE__);
   }
   return p;
}

char *Util_SafeStrdup(const char *text)
{
   if (text == NULL) {
      return NULL;
   }
   char *copy = strdup(text);
   if (copy == NULL) {
      Panic("VERIFY %s:%d\n", "vela/lib/misc/util", __LINE__);
   }
   return copy;
}
