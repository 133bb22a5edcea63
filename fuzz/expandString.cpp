// Fuzzes path expansion: "~", "~user", "$NAME" and the chunk limit.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "lib/misc/util.h"

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
   char *out = Util_ExpandString(text.c_str());
   // Only an expansion can fail, and only a text with "~" or "$" expands.
   if (out == NULL && text.c_str()[0] != '~' && strchr(text.c_str(), '$') == NULL) {
      abort();
   }
   free(out);
   return 0;
}
