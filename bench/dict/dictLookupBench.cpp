// Lookup of an existing key in a dictionary of 10,000 keys by a formatted
// name, side by side with std::unordered_map under a case-insensitive hash.
#include <benchmark/benchmark.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <unordered_map>
#include <vector>

#include "lib/user/dictionary.h"

namespace {

const int kKeys = 10000;
// A stride coprime with kKeys walks every key in an order the cache cannot
// predict from the previous one.
const int kStride = 7919;
const char kFormat[] = "pref.section%d.Key%d";

inline unsigned char Lower(unsigned char c)
{
   return c >= 'A' && c <= 'Z' ? c + 32 : c;
}

struct NoCaseHash
{
   size_t operator()(const std::string &s) const
   {
      uint32_t h = 2166136261u;
      for (unsigned char c : s) {
         h = (h ^ Lower(c)) * 16777619u;
      }
      return h;
   }
};

struct NoCaseEqual
{
   bool operator()(const std::string &a, const std::string &b) const
   {
      return a.size() == b.size() && strcasecmp(a.c_str(), b.c_str()) == 0;
   }
};

using NoCaseMap = std::unordered_map<std::string, int32_t, NoCaseHash, NoCaseEqual>;

Dictionary *MakeDictionary()
{
   Dictionary *dict = Dictionary_Create();
   for (int i = 0; i < kKeys; i++) {
      Dictionary_SetText(dict, std::to_string(i).c_str(), kFormat, i % 100, i);
   }
   // Convert every entry once, as a running program would have.
   for (int i = 0; i < kKeys; i++) {
      Dictionary_GetLong(dict, 0, kFormat, i % 100, i);
   }
   return dict;
}

NoCaseMap MakeMap()
{
   NoCaseMap map;
   char name[1024];
   for (int i = 0; i < kKeys; i++) {
      snprintf(name, sizeof name, kFormat, i % 100, i);
      map.emplace(name, i);
   }
   return map;
}

void BM_DictionaryGetLong(benchmark::State &state)
{
   Dictionary *dict = MakeDictionary();
   int i = 0;
   int64_t sum = 0;
   for (auto _ : state) {
      sum += Dictionary_GetLong(dict, -2, kFormat, i % 100, i);
      i = (i + kStride) % kKeys;
   }
   benchmark::DoNotOptimize(sum);
   if (Dictionary_Count(dict) != (uint32)kKeys) {
      state.SkipWithError("a lookup created an entry");
   }
   Dictionary_Free(dict);
}
BENCHMARK(BM_DictionaryGetLong);

// The same formatting into a 1024-byte buffer, then the map lookup.
void BM_UnorderedMapFormatted(benchmark::State &state)
{
   NoCaseMap map = MakeMap();
   int i = 0;
   int64_t sum = 0;
   char name[1024];
   for (auto _ : state) {
      snprintf(name, sizeof name, kFormat, i % 100, i);
      auto it = map.find(name);
      sum += it == map.end() ? -2 : it->second;
      i = (i + kStride) % kKeys;
   }
   benchmark::DoNotOptimize(sum);
}
BENCHMARK(BM_UnorderedMapFormatted);

// The lookups alone, names formed beforehand.
void BM_DictionaryGetPreformed(benchmark::State &state)
{
   Dictionary *dict = MakeDictionary();
   std::vector<std::string> names;
   char name[1024];
   for (int i = 0; i < kKeys; i++) {
      snprintf(name, sizeof name, kFormat, i % 100, i);
      names.push_back(name);
   }
   int i = 0;
   int64_t sum = 0;
   int32 def = -2;
   for (auto _ : state) {
      sum += *(const int32 *)Dictionary_Get(dict, &def, DICT_LONG, names[i].c_str());
      i = (i + kStride) % kKeys;
   }
   benchmark::DoNotOptimize(sum);
   Dictionary_Free(dict);
}
BENCHMARK(BM_DictionaryGetPreformed);

void BM_UnorderedMapPreformed(benchmark::State &state)
{
   NoCaseMap map = MakeMap();
   std::vector<std::string> names;
   char name[1024];
   for (int i = 0; i < kKeys; i++) {
      snprintf(name, sizeof name, kFormat, i % 100, i);
      names.push_back(name);
   }
   int i = 0;
   int64_t sum = 0;
   for (auto _ : state) {
      auto it = map.find(names[i]);
      sum += it == map.end() ? -2 : it->second;
      i = (i + kStride) % kKeys;
   }
   benchmark::DoNotOptimize(sum);
}
BENCHMARK(BM_UnorderedMapPreformed);

} // namespace

BENCHMARK_MAIN();
