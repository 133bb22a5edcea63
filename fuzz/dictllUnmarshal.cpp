// Fuzzes the line parser: every line of the input is parsed, and each
// assignment rendered again must parse back to the same name and value.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "lib/dict/dictll.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
   const char *p = (const char *)data;
   const char *end = p + size;
   while (p != NULL && p < end) {
      char *line, *name, *value;
      p = DictLL_UnmarshalLine(p, (size_t)(end - p), &line, &name, &value);
      if (line == NULL || (name == NULL) != (value == NULL)) {
         abort();
      }
      if (name != NULL) {
         std::string rendered;
         DictLL_MarshalLine(&rendered, name, value);
         char *line2, *name2, *value2;
         const char *next =
             DictLL_UnmarshalLine(rendered.data(), rendered.size(), &line2, &name2, &value2);
         if (next != rendered.data() + rendered.size() || name2 == NULL ||
             strcmp(name, name2) != 0 || strcmp(value, value2) != 0) {
            abort();
         }
         free(line2);
         free(name2);
         free(value2);
      }
      free(line);
      free(name);
      free(value);
   }
   return 0;
}
