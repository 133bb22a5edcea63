// Value parsing: the boolean and tri-state words and the conversion of a
// text into each value type, with its complaints and fallbacks.
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "lib/panic/panic.h"
#include "lib/user/dictionaryInt.h"

#define PANIC_SOURCE "vela/lib/user/dictionary_core"

static const char *const trueWords[] = {"", "true", "t", "yes", "y", "on"};
static const char *const falseWords[] = {"false", "f", "no", "n", "off"};
static const char *const defaultWords[] = {"default", "dontcare", "auto"};

static Bool DictionaryIsWord(const char *text, const char *const *words, size_t count)
{
   for (size_t i = 0; i < count; i++) {
      if (strcasecmp(text, words[i]) == 0) {
         return TRUE;
      }
   }
   return FALSE;
}

Bool Dictionary_ParseBool(const char *text, Bool *invalid)
{
   if (invalid != NULL) {
      *invalid = FALSE;
   }
   if (text != NULL) {
      if (strcmp(text, "1") == 0 ||
          DictionaryIsWord(text, trueWords, sizeof trueWords / sizeof *trueWords)) {
         return TRUE;
      }
      if (strcmp(text, "0") == 0 ||
          DictionaryIsWord(text, falseWords, sizeof falseWords / sizeof *falseWords)) {
         return FALSE;
      }
   }
   if (invalid != NULL) {
      *invalid = TRUE;
   }
   return FALSE;
}

int32 Dictionary_ParseTriState(const char *text, Bool *invalid)
{
   Bool notBool;
   Bool ignored;
   Bool value = Dictionary_ParseBool(text, &notBool);
   if (invalid == NULL) {
      invalid = &ignored; // optional, as for the boolean parser
   }
   *invalid = FALSE;
   if (!notBool) {
      return value;
   }
   if (text != NULL &&
       DictionaryIsWord(text, defaultWords, sizeof defaultWords / sizeof *defaultWords)) {
      return -1;
   }
   *invalid = TRUE;
   return 0;
}

static const char *DictionaryTriStateWord(int32 v)
{
   return v == 1 ? "TRUE" : v == -1 ? "default" : "FALSE";
}

// Why a number did not convert, from errno and the end of the parse: ERANGE,
// EINVAL (trailing text, or errno's EINVAL where the parser sets it), or 0.
static int DictionaryNumberProblem(const char *end, Bool checkInvalid)
{
   if (errno == ERANGE) {
      return ERANGE;
   }
   return *end != '\0' || (checkInvalid && errno == EINVAL) ? EINVAL : 0;
}

// Stores a converted number, or the fallback with the complaint for the
// problem: one format for out of range, one for not a number, both taking
// the text, the name and the fallback as shown.
template <typename T, typename Shown>
static Bool DictionaryNumberResult(int problem, T value, T fallback, Shown shownFallback, T *out,
                                   const char *rangeFmt, const char *invalidFmt, const char *text,
                                   const char *name, MsgList **msgs)
{
   if (problem == 0) {
      *out = value;
      return TRUE;
   }
   *out = fallback;
   MsgList_Append(msgs, problem == ERANGE ? rangeFmt : invalidFmt, text, name, shownFallback);
   return FALSE;
}

Bool DictionaryConvertValue(const char *name, const char *text, DictionaryValueType type,
                            const void *defaultValue, DictionaryValue *out, MsgList **msgs)
{
   type &= DICT_TYPE_MASK;
   if (text == NULL) {
      text = "";
   }
   switch (type) {
   case DICT_ANY:
   case DICT_STRING:
      out->text = (char *)text;
      return TRUE;

   case DICT_BOOL: {
      Bool invalid;
      Bool v = Dictionary_ParseBool(text, &invalid);
      if (invalid) {
         v = defaultValue != NULL ? (*(const Bool *)defaultValue != 0) : FALSE;
         MsgList_Append(msgs,
                        MSGID(msg.dictionary.notBoolean) "Value \"%s\" for variable \"%s\" is "
                                                         "not a valid boolean value. Using "
                                                         "value \"%s\".\n",
                        text, name, v ? "TRUE" : "FALSE");
      }
      out->int64Value = 0;
      out->boolValue = v;
      return !invalid;
   }

   case DICT_TRISTATE: {
      Bool invalid;
      int32 v = Dictionary_ParseTriState(text, &invalid);
      if (invalid) {
         v = defaultValue != NULL ? *(const int32 *)defaultValue : 0;
         MsgList_Append(msgs,
                        MSGID(msg.dictionary.notTristate) "Value \"%s\" for variable \"%s\" is "
                                                          "not a valid tristate value. Using "
                                                          "value \"%s\".\n",
                        text, name, DictionaryTriStateWord(v));
      }
      out->int64Value = 0;
      out->longValue = v;
      return !invalid;
   }

   case DICT_LONG: {
      char *end;
      errno = 0;
      long v = strtol(text, &end, 0);
      if (errno == ERANGE) {
         errno = 0;
         v = (long)strtoul(text, &end, 0);
      }
      int32 fallback = defaultValue != NULL ? *(const int32 *)defaultValue : 0;
      out->int64Value = 0;
      // The low 32 bits, so 4294967295 and 0xFFFFFFFF both read as -1.
      return DictionaryNumberResult(
          DictionaryNumberProblem(end, TRUE), (int32)(uint32)(unsigned long)v, fallback, fallback,
          &out->longValue,
          MSGID(msg.dictionary.integerOutOfRange) "Value \"%s\" for "
                                                  "variable \"%s\" is out "
                                                  "of range. Using value "
                                                  "\"%d\".\n",
          MSGID(msg.dictionary.notInteger) "Value \"%s\" for variable "
                                           "\"%s\" is not a valid "
                                           "integer value. Using value "
                                           "\"%d\".\n",
          text, name, msgs);
   }

   case DICT_INT64: {
      char *end;
      errno = 0;
      unsigned long long v = strtoull(text, &end, 0);
      int64 fallback = defaultValue != NULL ? *(const int64 *)defaultValue : 0;
      return DictionaryNumberResult(DictionaryNumberProblem(end, TRUE), (int64)v, fallback,
                                    (long)fallback, &out->int64Value,
                                    MSGID(msg.dictionary.integer64OutOfRange) "Value \"%s\" for "
                                                                              "variable \"%s\" is "
                                                                              "out of range. Using "
                                                                              "value \"%ld\".\n",
                                    MSGID(msg.dictionary.notInteger64) "Value \"%s\" for variable "
                                                                       "\"%s\" is not a valid "
                                                                       "integer value. Using value "
                                                                       "\"%ld\".\n",
                                    text, name, msgs);
   }

   case DICT_DOUBLE: {
      char *end;
      errno = 0;
      double v = strtod(text, &end);
      double fallback = defaultValue != NULL ? *(const double *)defaultValue : 0.0;
      return DictionaryNumberResult(DictionaryNumberProblem(end, FALSE), v, fallback, fallback,
                                    &out->doubleValue,
                                    MSGID(msg.dictionary.doubleOutOfRange) "Value \"%s\" for "
                                                                           "variable \"%s\" is out "
                                                                           "of range. Using value "
                                                                           "\"%f\".\n",
                                    MSGID(msg.dictionary.notFloat) "Value \"%s\" for variable "
                                                                   "\"%s\" is not a valid "
                                                                   "floating point value. Using "
                                                                   "value \"%f\".\n",
                                    text, name, msgs);
   }

   default:
      NOT_REACHED();
   }
}

void DictionaryConvertEntry(DictionaryEntry *e, DictionaryValueType type, const void *defaultValue,
                            MsgList **msgs)
{
   type &= DICT_TYPE_MASK;
   if (e->type != DICT_ANY || type == DICT_ANY) {
      return;
   }
   char *text = e->value.text;
   DictionaryValue converted;
   DictionaryConvertValue(e->name, text, type, defaultValue, &converted, msgs);
   e->type = type;
   if (type == DICT_STRING) {
      return; // the same text is now the string value
   }
   e->value = converted;
   DictionaryFreeText(text);
}
