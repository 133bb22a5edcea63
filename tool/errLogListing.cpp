#include "tool/errLogListing.h"

size_t ReadErrLogListing(std::istream &in, ErrLogListing *listing)
{
   size_t skipped = 0;
   std::string line;
   while (std::getline(in, line)) {
      ErrLogRecord r;
      if (!ParseErrLogRaw(line, &r)) {
         skipped++;
         continue;
      }
      (*listing)[ErrLogKeyText(r)] = r;
   }
   return skipped;
}

void WriteErrLogListing(std::ostream &os, const ErrLogListing &listing)
{
   for (const auto &entry : listing) {
      std::string line = FormatErrLogEntry(entry.second);
      line.pop_back(); // the newline goes out as std::endl
      os << line << std::endl;
   }
}
