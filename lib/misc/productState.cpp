// The product's identity. Plain fixed buffers: readers may run in a panic or
// a signal handler, where nothing may allocate.
#include <string.h>

#include "lib/misc/productState.h"

#define PRODUCTSTATE_DEFAULT_NAME "Keltria Pellory"
#define PRODUCTSTATE_TEXT_MAX 128

namespace {

struct ProductState
{
   char name[PRODUCTSTATE_TEXT_MAX];
   char version[PRODUCTSTATE_TEXT_MAX];
   char buildNumber[PRODUCTSTATE_TEXT_MAX];
   char option[PRODUCTSTATE_TEXT_MAX];
   Bool textSet[4]; // name, version, build number, option: set by a caller
   Bool maskSet;
   uint64 mask;
};

ProductState gProduct = {PRODUCTSTATE_DEFAULT_NAME, "", "", "", {}, FALSE, 0};

void
ProductStateCopy(char *dst, const char *src)
{
   // A caller may hand back a text it got from a getter: that is the buffer itself.
   if (src != NULL && src != dst) {
      strncpy(dst, src, PRODUCTSTATE_TEXT_MAX - 1);
      dst[PRODUCTSTATE_TEXT_MAX - 1] = '\0';
   }
}

// Stores the given texts (NULL keeps one), only those never set with once.
void
ProductStateStore(const char *const texts[4], Bool once)
{
   char *fields[4] = {gProduct.name, gProduct.version, gProduct.buildNumber, gProduct.option};
   for (int i = 0; i < 4; i++) {
      if (texts[i] != NULL && !(once && gProduct.textSet[i])) {
         ProductStateCopy(fields[i], texts[i]);
         gProduct.textSet[i] = TRUE;
      }
   }
}

} // namespace

void
ProductState_Set(const char *name, const char *version, const char *buildNumber,
                 const char *option)
{
   const char *const texts[4] = {name, version, buildNumber, option};
   ProductStateStore(texts, FALSE);
}

void
ProductState_SetOnce(const char *name, const char *version, const char *buildNumber,
                     const char *option)
{
   const char *const texts[4] = {name, version, buildNumber, option};
   ProductStateStore(texts, TRUE);
}

const char *
ProductState_GetName(void)
{
   return gProduct.name;
}

const char *
ProductState_GetVersion(void)
{
   return gProduct.version;
}

const char *
ProductState_GetBuildNumber(void)
{
   return gProduct.buildNumber;
}

const char *
ProductState_GetOption(void)
{
   return gProduct.option;
}

void
ProductState_SetProductMask(uint64 mask)
{
   gProduct.mask = mask;
   gProduct.maskSet = TRUE;
}

uint64
ProductState_GetProductMask(void)
{
   return gProduct.maskSet ? gProduct.mask : ~(uint64)0;
}

void
ProductState_Reset(void)
{
   memset(&gProduct, 0, sizeof gProduct);
   ProductStateCopy(gProduct.name, PRODUCTSTATE_DEFAULT_NAME);
}
