// Fuzzes path expansion: "~", "~user", "$NAME" and the chunk limit, against
// a reference of the rules in a fixed environment.
#include <ctype.h>
#include <pwd.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include <string>

#include "lib/misc/util.h"

namespace {

// The expansion of one "$NAME" chunk: the variable, else the process id for
// PID and the login for USER (in any case), else nothing; a lone "$" stays.
std::string Variable(const std::string &name)
{
   if (name.empty()) {
      return "$";
   }
   if (const char *value = getenv(name.c_str())) {
      return value;
   }
   if (strcasecmp(name.c_str(), "PID") == 0) {
      return std::to_string(getpid());
   }
   if (strcasecmp(name.c_str(), "USER") == 0) {
      struct passwd *pw = getpwuid(getuid());
      return pw != NULL && pw->pw_name[0] != '\0' ? pw->pw_name : "unknown";
   }
   return "";
}

// The expected expansion: a leading "~" or "~user" chunk up to the first
// "/" (an unknown user's stays as written), then runs of text and "$NAME"
// chunks (letters, digits, "_"). More than 100 chunks fail: *fails.
std::string Reference(const std::string &text, bool *fails)
{
   std::string out;
   size_t i = 0;
   int chunks = 0;
   if (text[0] == '~') {
      i = std::min(text.find('/'), text.size());
      std::string user = text.substr(1, i - 1);
      struct passwd *pw = user.empty() ? NULL : getpwnam(user.c_str());
      out = user.empty()                          ? getenv("HOME")
            : pw != NULL && pw->pw_dir[0] != '\0' ? pw->pw_dir
                                                  : text.substr(0, i);
      chunks = 1;
   }
   while (i < text.size()) {
      if (chunks++ == 100) {
         *fails = true;
         return "";
      }
      size_t start = i++;
      if (text[start] == '$') {
         while (i < text.size() && (isalnum((unsigned char)text[i]) || text[i] == '_')) {
            i++;
         }
         out += Variable(text.substr(start + 1, i - start - 1));
      } else {
         i = std::min(text.find('$', i), text.size());
         out += text.substr(start, i - start);
      }
   }
   return out;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
   setenv("HOME", "/home/fuzz", 1);
   setenv("FUZZ", "value", 1);
   setenv("EMPTY", "", 1);
   unsetenv("PID");
   unsetenv("USER");
   return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
   std::string text((const char *)data, size);
   text.resize(strlen(text.c_str())); // a C caller's text ends at a NUL
   char *out = Util_ExpandString(text.c_str());
   bool fails = false;
   std::string expected = Reference(text, &fails);
   if (fails ? out != NULL : out == NULL || expected != out) {
      abort();
   }
   free(out);
   return 0;
}
