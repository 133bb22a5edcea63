// Loading and writing a 10,000-line configuration file (9,000 keys, 1,000
// comments): the dictionary against GLib's GKeyFile keeping comments, both
// from a file and back to a file on tmpfs, with one value changed before the
// write. The in-memory pair measures parsing and rendering alone.
#include <benchmark/benchmark.h>
#include <glib.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "lib/misc/msgList.h"
#include "lib/misc/unicode.h"
#include "lib/user/dictionary.h"

namespace {

const int kLines = 10000;

// The same settings in both syntaxes; GKeyFile needs a group.
std::string Content(bool keyFile)
{
   std::string text = keyFile ? "[settings]\n" : "";
   for (int i = 0; i < kLines; i++) {
      if (i % 10 == 0) {
         text += "# comment line " + std::to_string(i) + " about the settings below\n";
      } else {
         std::string key = "section" + std::to_string(i / 100) + ".key" + std::to_string(i);
         std::string value = "value number " + std::to_string(i) + " /var/lib/path";
         text += keyFile ? key + "=" + value + "\n" : key + " = \"" + value + "\"\n";
      }
   }
   return text;
}

std::string Dir()
{
   static std::string dir = [] {
      char tmpl[] = "/dev/shm/confbench.XXXXXX";
      if (mkdtemp(tmpl) == nullptr) {
         strcpy(tmpl, "/tmp/confbench.XXXXXX");
         if (mkdtemp(tmpl) == nullptr) {
            abort();
         }
      }
      return std::string(tmpl);
   }();
   return dir;
}

std::string WriteInput(const char *name, const std::string &content)
{
   std::string path = Dir() + "/" + name;
   std::ofstream(path) << content;
   return path;
}

void BM_DictionaryLoadWriteFile(benchmark::State &state)
{
   std::string in = WriteInput("dict.in", Content(false));
   std::string out = Dir() + "/dict.out";
   for (auto _ : state) {
      Dictionary *dict = Dictionary_Create();
      MsgList *msgs = nullptr;
      if (!Dictionary_Load(dict, in.c_str(), TRUE, STRING_ENCODING_UTF8, &msgs)) {
         state.SkipWithError("load failed");
      }
      Dictionary_SetString(dict, "changed", "section50.key5001");
      if (!Dictionary_Write(dict, out.c_str())) {
         state.SkipWithError("write failed");
      }
      MsgList_Free(msgs);
      Dictionary_Free(dict);
   }
}
BENCHMARK(BM_DictionaryLoadWriteFile)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_GKeyFileLoadSaveFile(benchmark::State &state)
{
   std::string in = WriteInput("keyfile.in", Content(true));
   std::string out = Dir() + "/keyfile.out";
   for (auto _ : state) {
      GKeyFile *kf = g_key_file_new();
      GError *err = nullptr;
      if (!g_key_file_load_from_file(kf, in.c_str(), G_KEY_FILE_KEEP_COMMENTS, &err)) {
         state.SkipWithError("load failed");
      }
      g_key_file_set_string(kf, "settings", "section50.key5001", "changed");
      if (!g_key_file_save_to_file(kf, out.c_str(), &err)) {
         state.SkipWithError("save failed");
      }
      g_clear_error(&err);
      g_key_file_free(kf);
   }
}
BENCHMARK(BM_GKeyFileLoadSaveFile)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DictionaryParseRender(benchmark::State &state)
{
   std::string content = Content(false);
   for (auto _ : state) {
      Dictionary *dict = Dictionary_Create();
      MsgList *msgs = nullptr;
      Dictionary_LoadFromBuffer(dict, &content[0], FALSE, STRING_ENCODING_UTF8, &msgs);
      Dictionary_SetString(dict, "changed", "section50.key5001");
      char *text = nullptr;
      size_t size = 0;
      Dictionary_WriteToBuffer(dict, &text, &size);
      benchmark::DoNotOptimize(text);
      free(text);
      MsgList_Free(msgs);
      Dictionary_Free(dict);
   }
}
BENCHMARK(BM_DictionaryParseRender)->Unit(benchmark::kMillisecond);

void BM_GKeyFileParseRender(benchmark::State &state)
{
   std::string content = Content(true);
   for (auto _ : state) {
      GKeyFile *kf = g_key_file_new();
      g_key_file_load_from_data(kf, content.data(), content.size(), G_KEY_FILE_KEEP_COMMENTS,
                                nullptr);
      g_key_file_set_string(kf, "settings", "section50.key5001", "changed");
      gsize len = 0;
      gchar *text = g_key_file_to_data(kf, &len, nullptr);
      benchmark::DoNotOptimize(text);
      g_free(text);
      g_key_file_free(kf);
   }
}
BENCHMARK(BM_GKeyFileParseRender)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
   benchmark::Initialize(&argc, argv);
   benchmark::RunSpecifiedBenchmarks();
   benchmark::Shutdown();
   std::string cmd = "rm -rf '" + Dir() + "'";
   return system(cmd.c_str()) == 0 ? 0 : 1;
}
