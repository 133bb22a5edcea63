// Fuzzes reading a buffer, rendering it back and reading the rendering: a
// text that loads must render, and the rendering must load to the same
// entries. The first byte picks the default encoding, whether every entry
// is rendered afresh instead of copied from its line, and which changed
// values are stored before rendering.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <string>

#include "lib/misc/msgList.h"
#include "lib/misc/unicode.h"
#include "lib/user/dictionary.h"

namespace {

std::map<std::string, std::string> Entries(Dictionary *dict)
{
   std::map<std::string, std::string> out;
   Dictionary_Iterate(
       dict,
       [](const char *name, const char *value, int, void *data) {
          (*(std::map<std::string, std::string> *)data)[name] = value != NULL ? value : "";
       },
       &out, FALSE);
   return out;
}

struct Names
{
   std::map<std::string, std::string> *entries;
   Dictionary *dict;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
   if (size < 1) {
      return 0;
   }
   uint8_t mode = data[0];
   int32 encoding = (mode & 1) ? STRING_ENCODING_ISO_8859_1 : STRING_ENCODING_UTF8;
   std::string text((const char *)data + 1, size - 1);
   text.resize(strlen(text.c_str()));

   Dictionary *dict = Dictionary_Create();
   MsgList *msgs = NULL;
   if (!Dictionary_LoadFromBuffer(dict, &text[0], FALSE, encoding, &msgs)) {
      MsgList_Free(msgs);
      Dictionary_Free(dict);
      return 0;
   }
   MsgList_Free(msgs);
   msgs = NULL;
   std::map<std::string, std::string> before = Entries(dict);
   if (mode & 2) {
      for (const auto &kv : before) {
         Dictionary_MarkModified(dict, kv.first.c_str());
      }
   }
   // Changed values: escapes, a character of the file's encoding or not.
   if (mode & 4) {
      Dictionary_SetString(dict, "\xC3\xA9t\xC3\xA9 \"|\x01", "fuzz.added");
   }
   if (mode & 8) {
      Dictionary_SetString(dict, "\xE2\x82\xAC", "fuzz.euro");
   }
   before = Entries(dict);

   char *rendered = NULL;
   size_t renderedSize = 0;
   if (!Dictionary_WriteToBuffer(dict, &rendered, &renderedSize) ||
       renderedSize != strlen(rendered) + 1) {
      abort();
   }
   Dictionary *back = Dictionary_Create();
   if (!Dictionary_LoadFromBuffer(back, rendered, FALSE, encoding, &msgs)) {
      abort();
   }
   MsgList_Free(msgs);
   if (Entries(back) != before) {
      abort();
   }
   // Rendering is stable: an untouched reload renders to the same text.
   char *again = NULL;
   size_t againSize = 0;
   if (!Dictionary_WriteToBuffer(back, &again, &againSize) || strcmp(again, rendered) != 0) {
      abort();
   }
   free(again);
   free(rendered);
   Dictionary_Free(back);
   Dictionary_Free(dict);
   return 0;
}
