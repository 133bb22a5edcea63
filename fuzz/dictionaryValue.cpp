// Fuzzes the value parsers, typed lookups and stores of untyped text, and
// message formatting of arbitrary formats against captured arguments. A
// conversion fails exactly when it complains and then holds its fallback;
// a converted value's text form converts back to the same value.
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

bool SameValue(DictionaryValueType type, const DictionaryValue &a, const DictionaryValue &b)
{
   switch (type) {
   case DICT_BOOL:
      return a.boolValue == b.boolValue;
   case DICT_LONG:
   case DICT_TRISTATE:
      return a.longValue == b.longValue;
   case DICT_INT64:
      return a.int64Value == b.int64Value;
   case DICT_DOUBLE:
      return memcmp(&a.doubleValue, &b.doubleValue, sizeof a.doubleValue) == 0;
   default:
      return strcmp(a.text, b.text) == 0;
   }
}

void CheckConversion(const char *s, DictionaryValueType type)
{
   const int64 def = 1; // 8 bytes serve every type
   for (const void *d : {(const void *)NULL, (const void *)&def}) {
      MsgList *msgs = NULL;
      DictionaryValue v;
      memset(&v, 0xA5, sizeof v);
      Bool ok = DictionaryConvertValue("fuzz", s, type, d, &v, &msgs);
      // A failure holds the default (whose 8 bytes read as any type), or zero.
      DictionaryValue fallback;
      memset(&fallback, 0, sizeof fallback);
      if (d != NULL) {
         memcpy(&fallback, d, sizeof def);
      }
      if (ok == (msgs != NULL) || (!ok && !SameValue(type, v, fallback))) {
         abort();
      }
      char *complaints = MsgList_ToString(msgs);
      free(complaints);
      MsgList_Free(msgs);
      // Doubles are shown rounded, so only the exact types must come back.
      if (ok && type != DICT_DOUBLE && !DictionaryIsTextType(type)) {
         Dictionary *dict = Dictionary_Create();
         Dictionary_Set(dict, &v, type, "typed", NULL);
         DictionaryValue back;
         if (!DictionaryConvertValue("fuzz", Dictionary_GetAsString(dict, "typed"), type, NULL,
                                     &back, NULL) ||
             !SameValue(type, v, back)) {
            abort();
         }
         Dictionary_Free(dict);
      }
   }
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

   CheckConversion(s, type);

   Dictionary *dict = Dictionary_Create();
   Dictionary_SetFromString(dict, s, FALSE, NULL);
   const char *eq = strchr(s, '=');
   std::string name = eq != NULL ? std::string(s, eq - s) : std::string(s);
   const int64 def = 1;
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
