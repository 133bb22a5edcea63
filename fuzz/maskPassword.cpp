// Fuzzes MaskPassword: any text is read within bounds, and in texts built
// around password values of every shape (strings with escapes, bare words,
// objects and arrays nesting them, some left open at the end) a secret in a
// value never survives and the text around the values is unchanged.
#include <stdint.h>
#include <stdlib.h>

#include <string>

#include "common/commonUtils.h"

namespace {

const std::string kKey = "\"password\":";
const std::string kSecret = "S3CR3T";

// Hands out the input's bytes, then zeros.
class Bytes
{
 public:
   Bytes(const uint8_t *data, size_t size) : mData(data), mSize(size) {}
   bool More() const { return mPos < mSize; }
   unsigned Next() { return mPos < mSize ? mData[mPos++] : 0; }

 private:
   const uint8_t *mData;
   size_t mSize;
   size_t mPos = 0;
};

// Text outside the values: no quote (so no key of its own) and no secret.
std::string Filler(Bytes &in)
{
   static const char kChars[] = " ,:{}[]\\0ab\t\n";
   std::string out;
   for (unsigned n = in.Next() % 6; n > 0; n--) {
      out += kChars[in.Next() % (sizeof kChars - 1)];
   }
   return out;
}

std::string Value(Bytes &in, int depth)
{
   unsigned kind = in.Next();
   std::string out = (kind & 4) ? " " : "";
   switch (depth < 4 ? kind % 4 : kind % 2) {
   case 0: { // A string: brackets, commas, keys and escapes inside.
      static const char *const kPieces[] = {
          "{", "}", "[", "]", ",", ":", "\\\"", "\\\\", "x", "\\\"password\\\":", "\\u0022"};
      out += "\"" + kSecret;
      for (unsigned n = in.Next() % 5; n > 0; n--) {
         out += kPieces[in.Next() % (sizeof kPieces / sizeof kPieces[0])];
      }
      return out + "\"";
   }
   case 1: // A bare word runs up to , } or ].
      return out + (kind & 8 ? "-1" + kSecret : kSecret + "e5 true");
   default: {
      bool object = kind % 4 == 2;
      out += object ? "{" : "[";
      for (unsigned n = in.Next() % 4; n > 0; n--) {
         out += object ? "\"password\": " : "";
         out += Value(in, depth + 1) + (n > 1 ? "," : "");
      }
      return out + (object ? "}" : "]");
   }
   }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
   CommonUtils::MaskPassword(std::string(reinterpret_cast<const char *>(data), size));

   Bytes in(data, size);
   std::string text = Filler(in), expected = text;
   while (in.More()) {
      unsigned flags = in.Next();
      std::string value = Value(in, 0);
      text += kKey;
      expected += kKey + "***";
      if (!in.More() && (flags & 1)) {
         // The last value cut short: open, it masks to the end.
         text += value.substr(0, value.size() - 1 - flags / 2 % (value.size() - 1));
         break;
      }
      // A bare word ends only at , } or ].
      std::string after = ",}]"[flags / 2 % 3] + Filler(in);
      text += value + after;
      expected += after;
   }
   std::string masked = CommonUtils::MaskPassword(text);
   if (masked != expected || masked.find(kSecret) != std::string::npos) {
      abort();
   }
   return 0;
}
