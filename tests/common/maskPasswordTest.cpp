#include <string>

#include <gtest/gtest.h>

#include "common/commonUtils.h"

namespace {

// Each value is masked whole, whatever its shape, and nothing around it
// changes; a value left open masks the rest of the text. The fuzz target
// covers values of every shape; these rows are the hard cases by name.
TEST(MaskPassword, HidesWholeValuesOfEveryShape)
{
   const struct
   {
      const char *text;
      const char *masked;
   } cases[] = {
       {R"({"user":"u","password":"a,b\"c","n":1})", R"({"user":"u","password":***,"n":1})"},
       {R"({"password":{"enc":"S1","val":"S2"},"n":1})", R"({"password":***,"n":1})"},
       {R"({"password": [{"a":"]}\"[,"},[1]] ,"n":2})", R"({"password":*** ,"n":2})"},
       {R"([{"password":7},{"password":true}])", R"([{"password":***},{"password":***}])"},
       {R"({"password":{"a":[1}],"n":"S3"})", R"({"password":***)"},
       {R"({"password":)", R"({"password":***)"},
       {R"({"pass":"x"})", R"({"pass":"x"})"},
   };
   for (const auto &c : cases) {
      EXPECT_EQ(CommonUtils::MaskPassword(c.text), c.masked) << c.text;
   }
}

} // namespace
