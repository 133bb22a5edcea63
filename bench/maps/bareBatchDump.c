/* The floor for a text dump of label_port_map: BPF_MAP_LOOKUP_BATCH into a
 * bounded buffer and the tool's lines formatted with snprintf into a 64 KiB
 * block written to standard output. Usage: bench_maps_bare <pinned path> */
#include <arpa/inet.h>
#include <errno.h>
#include <linux/bpf.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

#define BATCH 256
#define MAX_BATCH (BATCH * 64)

static long Bpf(int cmd, union bpf_attr *attr)
{
   return syscall(__NR_bpf, cmd, attr, sizeof *attr);
}

static int WriteAll(const char *p, size_t n)
{
   while (n > 0) {
      ssize_t w = write(1, p, n);
      if (w < 0 && errno != EINTR) {
         return -1;
      }
      if (w > 0) {
         p += w;
         n -= (size_t)w;
      }
   }
   return 0;
}

int main(int argc, char **argv)
{
   static uint32_t keys[MAX_BATCH];
   static uint16_t values[MAX_BATCH];
   static char block[1 << 16];
   union bpf_attr attr;
   uint32_t in = 0, out = 0, count = BATCH;
   size_t len = 0;
   int first = 1;
   if (argc < 2) {
      return 2;
   }
   memset(&attr, 0, sizeof attr);
   attr.pathname = (uintptr_t)argv[1];
   int fd = (int)Bpf(BPF_OBJ_GET, &attr);
   if (fd < 0) {
      return 1;
   }
   for (;;) {
      memset(&attr, 0, sizeof attr);
      attr.batch.in_batch = first ? 0 : (uintptr_t)&in;
      attr.batch.out_batch = (uintptr_t)&out;
      attr.batch.keys = (uintptr_t)keys;
      attr.batch.values = (uintptr_t)values;
      attr.batch.count = count;
      attr.batch.map_fd = fd;
      int err = Bpf(BPF_MAP_LOOKUP_BATCH, &attr) < 0 ? errno : 0;
      if (err == ENOSPC && count < MAX_BATCH) {
         count *= 2;
         continue;
      }
      if (err != 0 && err != ENOENT) {
         return 1;
      }
      for (uint32_t i = 0; i < attr.batch.count; i++) {
         if (sizeof block - len < 64) {
            if (WriteAll(block, len) != 0) {
               return 1;
            }
            len = 0;
         }
         len += (size_t)snprintf(block + len, sizeof block - len, "label :0x%x\tport : %u\n",
                                 keys[i], ntohs(values[i]));
      }
      if (err == ENOENT) {
         break;
      }
      in = out;
      first = 0;
   }
   return WriteAll(block, len) != 0;
}
