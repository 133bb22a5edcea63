// Loading the message dictionary of a locale.
#include <stdlib.h>
#include <string.h>

#include <string>

#include "lib/config/config.h"
#include "lib/log/log.h"
#include "lib/misc/msgList.h"
#include "lib/misc/unicode.h"
#include "lib/user/dictionary.h"
#include "lib/user/msgInt.h"

Bool Msg_SetLocaleEx(const char *locale, const char *programName)
{
   Log("%s: HostLocale=%s UserLocale=%s\n", __func__,
       Unicode_EncodingEnumToName(STRING_ENCODING_DEFAULT), locale != NULL ? locale : "NULL");
   if (locale == NULL) {
      MsgLock();
      MsgSetDictionaryLocked(NULL, NULL);
      MsgUnlock();
      return TRUE;
   }
   char *libdir = Config_GetPathName("/usr/lib/keltria", "libdir");
   if (libdir == NULL) {
      Warning("Cannot determine message file path for locale \"%s\".\n", locale);
      return FALSE;
   }
   std::string path = std::string(libdir) + "/messages" + "/" + locale + "/" +
                      (programName != NULL ? programName : "") + "." + "lmsg";
   free(libdir);

   Dictionary *dict = Dictionary_Create();
   MsgList *msgs = NULL;
   if (!Dictionary_Load(dict, path.c_str(), TRUE, STRING_ENCODING_UTF8, &msgs)) {
      Dictionary_Free(dict);
      // English is built in; a missing English file is no news.
      if (strncmp(locale, "en", 2) != 0) {
         MsgList_Log(msgs);
         Warning("Cannot load message dictionary \"%s\".\n", path.c_str());
      }
      MsgList_Free(msgs);
      return FALSE;
   }
   MsgList_Free(msgs);
   MsgLock();
   MsgSetDictionaryLocked(dict, locale);
   MsgUnlock();
   return TRUE;
}
