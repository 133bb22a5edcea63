// Fuzzes the value parsers, typed lookups and stores of untyped text, and
// message formatting of arbitrary formats against captured arguments.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "lib/misc/msgList.h"
#include "lib/user/dictionaryInt.h"

namespace {

// Hidden from the compiler's format checks, which reject a literal null.
const char *volatile nullText = NULL;

void CheckFormat(const char *format)
{
   // A list whose arguments cover every captured kind; the fuzzed format is
   // filled from it as a localised format would be.
   MsgList *list = MsgList_Create(MSGID(fuzz) "%d %lld %f %Lf %s %p %s", -5, (long long)1 << 40,
                                  2.5, (long double)3.25, "text", (void *)&format, nullText);
   char *text = MsgList_FormatOne(list, format, NULL);
   free(text);
   MsgList_Free(list);

   // The same text as a message of its own, without arguments.
   list = MsgList_CreateStr(format);
   MsgList_AppendStr(&list, format);
   text = MsgList_ToString(list);
   free(text);
   MsgList_Free(list);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
   if (size == 0) {
      return 0;
   }
   DictionaryValueType type = data[0] % 7;
   std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
   const char *s = text.c_str(); // stops at an embedded NUL, as a C caller would

   Bool invalid;
   Dictionary_ParseBool(s, &invalid);
   Dictionary_ParseTriState(s, &invalid);

   MsgList *msgs = NULL;
   DictionaryValue v;
   int64 def = 1;
   DictionaryConvertValue("fuzz", s, type, NULL, &v, &msgs);
   DictionaryConvertValue("fuzz", s, type, &def, &v, &msgs); // 8 bytes serve every type
   char *complaints = MsgList_ToString(msgs);
   free(complaints);
   MsgList_Free(msgs);

   Dictionary *dict = Dictionary_Create();
   Dictionary_SetFromString(dict, s, FALSE, NULL);
   const char *eq = strchr(s, '=');
   std::string name = eq != NULL ? std::string(s, eq - s) : std::string(s);
   const char *textDef = "fallback";
   const void *typedDef = DictionaryIsTextType(type) ? (const void *)&textDef : (const void *)&def;
   Dictionary_Get(dict, typedDef, type, name.c_str());
   Dictionary_Get(dict, typedDef, type, "absent");
   Dictionary_GetAsString(dict, name.c_str());
   Dictionary_SetText(dict, s, "%s", name.c_str());
   Dictionary_GetAsString(dict, name.c_str());
   Dictionary_Log(dict);
   Dictionary_Unset(dict, name.c_str());
   Dictionary_Free(dict);

   CheckFormat(s);
   return 0;
}
