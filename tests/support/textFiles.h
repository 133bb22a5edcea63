/// Small helpers shared by the tests: whole files as strings, directory
/// listings, message lists and configuration texts as strings.
#ifndef TESTS_SUPPORT_TEXTFILES_H
#define TESTS_SUPPORT_TEXTFILES_H

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "lib/config/config.h"
#include "lib/misc/msgList.h"

namespace fwdtest {

/// The bytes of `path`, or "" when it cannot be read.
inline std::string ReadFile(const std::string &path)
{
   std::ifstream in(path, std::ios::binary);
   std::stringstream ss;
   ss << in.rdbuf();
   return ss.str();
}

/// Writes `content` to `path`, creating missing parent directories; returns
/// `path`.
inline std::string WriteFile(const std::string &path, const std::string &content)
{
   std::filesystem::create_directories(std::filesystem::path(path).parent_path());
   std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
   return path;
}

/// Flushes `out`; true when it took everything. The finisher of output
/// written to a string stream rather than a run's output target.
inline bool FlushStream(std::ostream &out)
{
   return static_cast<bool>(out.flush());
}

/// The names in directory `dir`, sorted.
inline std::vector<std::string> DirEntries(const std::string &dir)
{
   std::vector<std::string> names;
   for (const auto &e : std::filesystem::directory_iterator(dir)) {
      names.push_back(e.path().filename());
   }
   std::sort(names.begin(), names.end());
   return names;
}

/// The text of a message list, newest message first; the list stays.
inline std::string MsgText(const MsgList *list)
{
   char *s = MsgList_ToString(list);
   std::string out = s != nullptr ? s : "";
   free(s);
   return out;
}

/// Config_GetString(`dflt`, `key`) as a string, "<null>" for no value.
inline std::string ConfigText(const char *dflt, const char *key)
{
   char *v = Config_GetString(dflt, "%s", key);
   std::string s = v != nullptr ? v : "<null>";
   free(v);
   return s;
}

} // namespace fwdtest

#endif
