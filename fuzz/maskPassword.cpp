// Fuzzes MaskPassword: any text is read within bounds, and in texts built
// around password values (quoted ones holding commas, escapes, braces and
// keys, or bare ones) every value is masked whole and nothing else changes.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "common/commonUtils.h"

namespace {

const std::string kKey = "\"password\":";

std::vector<std::string> Split(const std::string &text, char sep)
{
   std::vector<std::string> parts(1);
   for (char c : text) {
      if (c == sep) {
         parts.emplace_back();
      } else {
         parts.back() += c;
      }
   }
   return parts;
}

std::string Without(std::string text, const char *chars)
{
   std::string out;
   for (char c : text) {
      if (strchr(chars, c) == nullptr || c == '\0') {
         out += c;
      }
   }
   return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
   const std::string input(reinterpret_cast<const char *>(data), size);
   CommonUtils::MaskPassword(input);

   // Input: filler, then per value "\x01" flags value "\x02" filler. Fillers
   // hold no quote, so the only keys are the ones placed here.
   std::vector<std::string> parts = Split(input, '\x01');
   std::string text = Without(parts[0], "\""), expected = text;
   for (size_t i = 1; i < parts.size(); i++) {
      const bool last = i + 1 == parts.size();
      const unsigned flags = parts[i].empty() ? 0 : (unsigned char)parts[i][0];
      std::vector<std::string> pieces = Split(parts[i].empty() ? "" : parts[i].substr(1), '\x02');
      std::string value = pieces[0];
      std::string filler = pieces.size() > 1 ? Without(pieces[1], "\"") : "";
      if (flags & 1) {
         std::string quoted = (flags & 2) ? " \t\"" : "\"";
         for (char c : value) {
            if (c == '"' || c == '\\') {
               quoted += '\\';
            }
            quoted += c;
         }
         // Only the last may run unterminated to the end of the text.
         value = quoted + (last && (flags & 8) ? "" : "\"");
      } else {
         value = Without(value, ",\"");
      }
      text += kKey + value;
      expected += kKey + "***";
      // After the last value, an unterminated string or a missing comma
      // masks the rest of the text.
      if (last && (flags & 9) == 9) {
         text += filler;
      } else if (last && (flags & 4)) {
         text += Without(filler, ",");
      } else {
         text += "," + filler;
         expected += "," + filler;
      }
   }
   if (CommonUtils::MaskPassword(text) != expected) {
      abort();
   }
   return 0;
}
