// Hides password values in message texts before they are logged.
#include <string>

#include "common/commonUtils.h"

namespace {

const char kPasswordKey[] = "\"password\":";

// One past the end of the value starting at `from` (after blanks), or npos
// when it is unterminated. A string ends at its closing quote, an object or
// array at its matching bracket (strings inside skipped, a backslash
// escaping the next character), anything else before the next , } or ].
size_t ValueEnd(const std::string &text, size_t from)
{
   if (text[from] != '"' && text[from] != '{' && text[from] != '[') {
      return text.find_first_of(",}]", from);
   }
   // Closers still expected; a closer that does not match leaves the value
   // open, so a malformed one is masked to the end rather than leaked.
   std::string open;
   bool inString = false;
   for (size_t i = from; i < text.size(); i++) {
      char c = text[i];
      if (inString) {
         if (c == '\\') {
            i++;
         } else if (c == '"') {
            inString = false;
         }
      } else if (c == '"') {
         inString = true;
      } else if (c == '{' || c == '[') {
         open += c == '{' ? '}' : ']';
      } else if (!open.empty() && c == open.back()) {
         open.pop_back();
      } else {
         continue;
      }
      if (!inString && open.empty()) {
         return i + 1;
      }
   }
   return std::string::npos;
}

} // namespace

std::string CommonUtils::MaskPassword(const std::string &text)
{
   // Every occurrence is masked, and each value is skipped whole, so a
   // password holding a comma, a bracket or a key of its own never reaches
   // a log.
   std::string out = text;
   const size_t keyLen = sizeof kPasswordKey - 1;
   size_t key = 0;
   while ((key = out.find(kPasswordKey, key)) != std::string::npos) {
      size_t start = key + keyLen;
      size_t from = out.find_first_not_of(" \t\r\n", start);
      size_t end = from == std::string::npos ? from : ValueEnd(out, from);
      if (end == std::string::npos) {
         end = out.size();
      }
      out.replace(start, end - start, "***");
      key = start + 3;
   }
   return out;
}
