// The log's own formatter must give exactly what vsnprintf gives, whole and
// cut to any buffer size.
#include <limits.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/types.h>
#include <wchar.h>

#include <string>

#include <gtest/gtest.h>

#include "lib/log/logInt.h"

// The cases below feed unusual formats on purpose.
#pragma GCC diagnostic ignored "-Wformat"
#pragma GCC diagnostic ignored "-Wformat-zero-length"
#ifndef __clang__
#pragma GCC diagnostic ignored "-Wformat-overflow"
#endif

namespace {

void Same(const char *fmt, ...) PRINTF_DECL(1, 2);

void Same(const char *fmt, ...)
{
   const size_t sizes[] = {0, 1, 2, 5, 17, 320, 4096};
   for (size_t size : sizes) {
      char want[4096];
      char got[4096];
      memset(want, 'W', sizeof want);
      memset(got, 'W', sizeof got);
      va_list a;
      va_list b;
      va_start(a, fmt);
      va_copy(b, a);
      int wantLen = vsnprintf(want, size, fmt, a);
      int gotLen = LogFormatV(got, size, fmt, b);
      va_end(b);
      va_end(a);
      ASSERT_EQ(wantLen, gotLen) << "format \"" << fmt << "\" size " << size;
      ASSERT_EQ(0, memcmp(want, got, sizeof want)) << "format \"" << fmt << "\" size " << size
                                                   << ": \"" << want << "\" vs \"" << got << "\"";
   }
}

// One conversion of any flags, width, precision and length is the log-text
// fuzzer's; these rows take each branch once, several conversions together.
TEST(LogFormatter, MatchesTheCLibrary)
{
   Same("");
   Same("%d %i %u %x %X %o %c %p %%", INT_MIN, INT_MAX, 4294967295u, 0xdeadbeefu, 0xabcdefu, 0777u,
        'x', (void *)&Same);
   Same("%ld %llu %zd %jd %td %hd %hhu %lx", LONG_MIN, ULLONG_MAX, (ssize_t)-5, (intmax_t)-77,
        (ptrdiff_t)-3, 70000, 300, 0x1234abcdUL);
   Same("[%-+05d][% d][%+ d][%.0d][%08.3d][%5.3d][%-8.3d]", 42, 42, 42, 0, 7, -7, 7);
   Same("[%#x][%#X][%#o][%#x][%#.0o][%#5.3x][%#08x]", 255u, 255u, 8u, 0u, 0u, 10u, 10u);
   Same("[%*d][%-*d][%*d][%.*d][%.*d]", 6, 1, 6, 2, -6, 3, 4, 5, -1, 6);
   Same("[%10s][%-10s][%.2s][%5.1s][%05s][%3c][%-3c][%03c]", "abc", "abc", "abc", "abc", "ab", 'y',
        'z', 'w');
   Same("utf8 %s \xC3\xA9\xE2\x82\xAC", "\xF0\x9F\x98\x80");
   // Handed to the C library.
   Same("%f %.2f %e %g %a", 1.5, 2.25, 1e10, 0.1, 1.0);
   Same("%5%|%s|%p|%ls", (const char *)nullptr, (void *)nullptr, L"wide");
   Same("%2$s %1$s", "world", "hello");
   Same("%lc %Lf", (wint_t)'A', (long double)1.5);
   Same("%m");
   Same("%s", std::string(5000, 'L').c_str());
}

} // namespace
