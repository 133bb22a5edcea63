// A small stand-in for the forwarding proxy's kernel programs, used by the
// integration tests and the demo. It declares the five maps with the record
// layouts the inspection tool decodes and fills them from real traffic:
//  - egress counts "tx bytes", ingress counts "rx bytes";
//  - a TCP or UDP packet arriving for a port in worker_port_map counts
//    "rx end bytes"; leaving from such a port, "tx end bytes";
//  - an arriving packet for any other port is looked up in label_port_map
//    (the port taken as label); without an entry the "lookup label" error is
//    counted and an error-log record written, for IPv4 and IPv6 alike.
#include <linux/bpf.h>
#include <linux/if_ether.h>
#include <linux/in.h>
#include <linux/ip.h>
#include <linux/ipv6.h>
#include <linux/pkt_cls.h>

#include <bpf/bpf_endian.h>
#include <bpf/bpf_helpers.h>

enum { STAT_RX = 0, STAT_RX_END = 1, STAT_TX = 2, STAT_TX_END = 3, STAT_COUNT = 4 };
enum { ERR_GET_LABEL = 0, ERR_INVALID_HMAC, ERR_LOOKUP_LABEL, ERR_DO_DNAT, ERR_DO_CHECK_SUM, ERR_COUNT };

struct fwd_err_log_key {
   __u64 time_ns;
   __u32 extra_id;
   __u32 pad;
};

struct fwd_err_log_val {
   __u8 dip[16];
   __u8 sip[16];
   __u32 err;
   __u16 ip_ver;
   __u16 l4proto;
   __u16 sport; // network byte order
   __u16 dport; // network byte order
};
_Static_assert(sizeof(struct fwd_err_log_val) == 44, "error-log value layout");

struct {
   __uint(type, BPF_MAP_TYPE_HASH);
   __type(key, __u32);   // label
   __type(value, __u16); // port, network byte order
   __uint(max_entries, 256);
   __uint(pinning, LIBBPF_PIN_BY_NAME);
} label_port_map SEC(".maps");

struct {
   __uint(type, BPF_MAP_TYPE_HASH);
   __type(key, __u16);   // port, network byte order
   __type(value, __u32); // presence marker
   __uint(max_entries, 256);
   __uint(pinning, LIBBPF_PIN_BY_NAME);
} worker_port_map SEC(".maps");

struct {
   __uint(type, BPF_MAP_TYPE_PERCPU_ARRAY);
   __type(key, __u32);
   __type(value, __u64);
   __uint(max_entries, STAT_COUNT);
   __uint(pinning, LIBBPF_PIN_BY_NAME);
} bpf_fwd_stats SEC(".maps");

struct {
   __uint(type, BPF_MAP_TYPE_ARRAY);
   __type(key, __u32);
   __type(value, __u64);
   __uint(max_entries, ERR_COUNT);
   __uint(pinning, LIBBPF_PIN_BY_NAME);
} bpf_fwd_err SEC(".maps");

struct {
   __uint(type, BPF_MAP_TYPE_HASH);
   __type(key, struct fwd_err_log_key);
   __type(value, struct fwd_err_log_val);
   __uint(max_entries, 1024);
   __uint(pinning, LIBBPF_PIN_BY_NAME);
} bpf_fwd_err_log SEC(".maps");

static __always_inline void add_stat(__u32 idx, __u64 bytes)
{
   __u64 *slot = bpf_map_lookup_elem(&bpf_fwd_stats, &idx);
   if (slot)
      *slot += bytes; // per-CPU: no other writer
}

// Fills `v` with the packet's addresses, ports and protocol; 0 when it is
// not TCP or UDP over IPv4 or IPv6.
static __always_inline int parse(struct __sk_buff *skb, struct fwd_err_log_val *v)
{
   void *end = (void *)(long)skb->data_end;
   struct ethhdr *eth = (void *)(long)skb->data;
   __u16 *ports; // TCP and UDP headers both begin with the source and destination ports
   __u8 proto;

   if ((void *)(eth + 1) > end)
      return 0;
   if (eth->h_proto == bpf_htons(ETH_P_IP)) {
      struct iphdr *ip = (void *)(eth + 1);
      if ((void *)(ip + 1) > end || ip->ihl < 5)
         return 0;
      __builtin_memcpy(v->sip, &ip->saddr, 4);
      __builtin_memcpy(v->dip, &ip->daddr, 4);
      v->ip_ver = 4;
      proto = ip->protocol;
      ports = (void *)ip + ip->ihl * 4;
   } else if (eth->h_proto == bpf_htons(ETH_P_IPV6)) {
      struct ipv6hdr *ip6 = (void *)(eth + 1);
      if ((void *)(ip6 + 1) > end)
         return 0;
      __builtin_memcpy(v->sip, &ip6->saddr, 16);
      __builtin_memcpy(v->dip, &ip6->daddr, 16);
      v->ip_ver = 6;
      proto = ip6->nexthdr;
      ports = (void *)(ip6 + 1);
   } else {
      return 0;
   }
   if ((proto != IPPROTO_TCP && proto != IPPROTO_UDP) || (void *)(ports + 2) > end)
      return 0;
   v->sport = ports[0];
   v->dport = ports[1];
   v->l4proto = proto;
   return 1;
}

SEC("egress")
int fwd_egress(struct __sk_buff *skb)
{
   struct fwd_err_log_val v = {};

   add_stat(STAT_TX, skb->len);
   if (parse(skb, &v) && bpf_map_lookup_elem(&worker_port_map, &v.sport))
      add_stat(STAT_TX_END, skb->len);
   return TC_ACT_OK;
}

SEC("ingress")
int fwd_ingress(struct __sk_buff *skb)
{
   struct fwd_err_log_val v = {};

   add_stat(STAT_RX, skb->len);
   if (!parse(skb, &v))
      return TC_ACT_OK;
   if (bpf_map_lookup_elem(&worker_port_map, &v.dport)) {
      add_stat(STAT_RX_END, skb->len);
      return TC_ACT_OK;
   }
   __u32 label = bpf_ntohs(v.dport);
   if (bpf_map_lookup_elem(&label_port_map, &label))
      return TC_ACT_OK;

   struct fwd_err_log_key key = {
      .time_ns = bpf_ktime_get_ns(),
      .extra_id = bpf_get_prandom_u32(),
   };
   __u32 code = ERR_LOOKUP_LABEL;
   __u64 *count = bpf_map_lookup_elem(&bpf_fwd_err, &code);
   if (count)
      __sync_fetch_and_add(count, 1);
   v.err = code;
   bpf_map_update_elem(&bpf_fwd_err_log, &key, &v, BPF_ANY);
   return TC_ACT_OK;
}

char _license[] SEC("license") = "GPL";
