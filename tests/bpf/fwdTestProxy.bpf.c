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
#include <linux/tcp.h>
#include <linux/udp.h>

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

struct flow {
   struct fwd_err_log_val v; // addresses, ports and protocol of the packet
   int found;
};

static __always_inline void add_stat(__u32 idx, __u64 bytes)
{
   __u64 *slot = bpf_map_lookup_elem(&bpf_fwd_stats, &idx);
   if (slot)
      *slot += bytes; // per-CPU: no other writer
}

static __always_inline void add_err(__u32 code)
{
   __u64 *slot = bpf_map_lookup_elem(&bpf_fwd_err, &code);
   if (slot)
      __sync_fetch_and_add(slot, 1);
}

static __always_inline int parse_ports(void *l4, void *end, __u8 proto, struct flow *f)
{
   if (proto == IPPROTO_TCP) {
      struct tcphdr *th = l4;
      if ((void *)(th + 1) > end)
         return 0;
      f->v.sport = th->source;
      f->v.dport = th->dest;
   } else if (proto == IPPROTO_UDP) {
      struct udphdr *uh = l4;
      if ((void *)(uh + 1) > end)
         return 0;
      f->v.sport = uh->source;
      f->v.dport = uh->dest;
   } else {
      return 0;
   }
   f->v.l4proto = proto;
   return 1;
}

static __always_inline void parse(struct __sk_buff *skb, struct flow *f)
{
   void *data = (void *)(long)skb->data;
   void *end = (void *)(long)skb->data_end;
   struct ethhdr *eth = data;

   f->found = 0;
   if ((void *)(eth + 1) > end)
      return;
   if (eth->h_proto == bpf_htons(ETH_P_IP)) {
      struct iphdr *ip = (void *)(eth + 1);
      if ((void *)(ip + 1) > end || ip->ihl < 5)
         return;
      __builtin_memcpy(f->v.sip, &ip->saddr, 4);
      __builtin_memcpy(f->v.dip, &ip->daddr, 4);
      f->v.ip_ver = 4;
      f->found = parse_ports((void *)ip + ip->ihl * 4, end, ip->protocol, f);
   } else if (eth->h_proto == bpf_htons(ETH_P_IPV6)) {
      struct ipv6hdr *ip6 = (void *)(eth + 1);
      if ((void *)(ip6 + 1) > end)
         return;
      __builtin_memcpy(f->v.sip, &ip6->saddr, 16);
      __builtin_memcpy(f->v.dip, &ip6->daddr, 16);
      f->v.ip_ver = 6;
      f->found = parse_ports(ip6 + 1, end, ip6->nexthdr, f);
   }
}

SEC("egress")
int fwd_egress(struct __sk_buff *skb)
{
   struct flow f = {};

   add_stat(STAT_TX, skb->len);
   parse(skb, &f);
   if (f.found && bpf_map_lookup_elem(&worker_port_map, &f.v.sport))
      add_stat(STAT_TX_END, skb->len);
   return TC_ACT_OK;
}

SEC("ingress")
int fwd_ingress(struct __sk_buff *skb)
{
   struct flow f = {};

   add_stat(STAT_RX, skb->len);
   parse(skb, &f);
   if (!f.found)
      return TC_ACT_OK;
   if (bpf_map_lookup_elem(&worker_port_map, &f.v.dport)) {
      add_stat(STAT_RX_END, skb->len);
      return TC_ACT_OK;
   }
   __u32 label = bpf_ntohs(f.v.dport);
   if (bpf_map_lookup_elem(&label_port_map, &label))
      return TC_ACT_OK;

   struct fwd_err_log_key key = {
      .time_ns = bpf_ktime_get_ns(),
      .extra_id = bpf_get_prandom_u32(),
   };
   f.v.err = ERR_LOOKUP_LABEL;
   add_err(ERR_LOOKUP_LABEL);
   bpf_map_update_elem(&bpf_fwd_err_log, &key, &f.v, BPF_ANY);
   return TC_ACT_OK;
}

char _license[] SEC("license") = "GPL";
