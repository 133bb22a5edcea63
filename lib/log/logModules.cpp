// The module table: one row per component of the system, selected by module
// number n (row n-1). Both thresholds start at -1, so a message with a
// module number is dropped until configuration opens its module.
#include "lib/log/logInt.h"

#define M(name)                                                                                    \
   {                                                                                               \
      name,                                                                                        \
      {                                                                                            \
         -1, -1                                                                                    \
      }                                                                                            \
   }

LogModuleEntry logModules[] = {
    M("fwdmaps"),   M("cli"),        M("options"),    M("printer"),    M("errlog"),
    M("errcount"),  M("portmap"),    M("stats"),      M("percpu"),     M("json"),
    M("prom"),      M("completion"), M("bpf"),        M("bpfsys"),     M("bpfmap"),
    M("mapwalk"),   M("mapreg"),     M("pin"),        M("bpffs"),      M("prog"),
    M("verifier"),  M("btf"),        M("elf"),        M("cpus"),       M("proxy"),
    M("bpfctx"),    M("tc"),         M("qdisc"),      M("clsact"),     M("filter"),
    M("ingress"),   M("egress"),     M("nic"),        M("ifaddr"),     M("netlink"),
    M("route"),     M("veth"),       M("netns"),      M("shell"),      M("exec"),
    M("popen"),     M("spawn"),      M("quote"),      M("config"),     M("pref"),
    M("layer"),     M("dict"),       M("dictll"),     M("dictfile"),   M("encoding"),
    M("codeset"),   M("icu"),        M("unicode"),    M("utf8"),       M("utf16"),
    M("escape"),    M("parse"),      M("msg"),        M("msglist"),    M("msgfmt"),
    M("i18n"),      M("l10n"),       M("util"),       M("expand"),     M("path"),
    M("log"),       M("logfile"),    M("logcfg"),     M("rotate"),     M("throttle"),
    M("panic"),     M("backtrace"),  M("loader"),     M("coredump"),   M("core"),
    M("sig"),       M("sigcb"),      M("lock"),       M("mxuser"),     M("condvar"),
    M("rank"),      M("logger"),     M("redirect"),   M("pipe"),       M("pipeconn"),
    M("frame"),     M("proc"),       M("procmon"),    M("child"),      M("restart"),
    M("task"),      M("executor"),   M("worker"),     M("queue"),      M("future"),
    M("timer"),     M("desktop"),    M("magic"),      M("token"),      M("sha256"),
    M("crypto"),    M("display"),    M("dpi"),        M("ident"),      M("distro"),
    M("lsb"),       M("hostname"),   M("domain"),     M("user"),       M("passwd"),
    M("session"),   M("ext2"),       M("ext3"),       M("ext4"),       M("xfs"),
    M("btrfs"),     M("tmpfs"),      M("procfs"),     M("sysfs"),      M("devfs"),
    M("fuse"),      M("nfs"),        M("cifs"),       M("smb"),        M("vfat"),
    M("exfat"),     M("ntfs"),       M("iso9660"),    M("udf"),        M("squashfs"),
    M("overlay"),   M("hgfs"),       M("vfs"),        M("inode"),      M("dentry"),
    M("mount"),     M("automount"),  M("quota"),      M("acl"),        M("xattr"),
    M("fsnotify"),  M("inotify"),    M("fanotify"),   M("usb"),        M("usbhid"),
    M("hid"),       M("keyboard"),   M("mouse"),      M("touch"),      M("pen"),
    M("tablet"),    M("gamepad"),    M("audio"),      M("mic"),        M("speaker"),
    M("alsa"),      M("pulse"),      M("pipewire"),   M("video"),      M("camera"),
    M("webcam"),    M("v4l2"),       M("gpu"),        M("drm"),        M("kms"),
    M("vulkan"),    M("opengl"),     M("egl"),        M("glx"),        M("x11"),
    M("xrandr"),    M("xinput"),     M("xkb"),        M("xfixes"),     M("xdamage"),
    M("xshm"),      M("wayland"),    M("compositor"), M("cursor"),     M("clipboard"),
    M("dnd"),       M("print"),      M("scanner"),    M("serial"),     M("smartcard"),
    M("pcsc"),      M("fido"),       M("storage"),    M("cdrom"),      M("disk"),
    M("block"),     M("scsi"),       M("nvme"),       M("virtio"),     M("vmci"),
    M("vsock"),     M("rtc"),        M("clock"),      M("acpi"),       M("power"),
    M("sensor"),    M("tcp"),        M("udp"),        M("ip4"),        M("ip6"),
    M("icmp"),      M("dns"),        M("dhcp"),       M("ntp"),        M("http"),
    M("https"),     M("http2"),      M("quic"),       M("tls"),        M("dtls"),
    M("ssh"),       M("rdp"),        M("vnc"),        M("websocket"),  M("grpc"),
    M("rpc"),       M("dbus"),       M("ipc"),        M("ldap"),       M("kerberos"),
    M("ntlm"),      M("saml"),       M("oauth"),      M("snmp"),       M("syslog"),
    M("rtp"),       M("rtcp"),       M("srtp"),       M("stun"),       M("turn"),
    M("ice"),       M("webrtc"),     M("socks"),      M("proxyproto"), M("uds"),
    M("mptcp"),     M("sctp"),       M("agent"),      M("broker"),     M("gateway"),
    M("tunnel"),    M("channel"),    M("vchan"),      M("codec"),      M("h264"),
    M("h265"),      M("jpeg"),       M("png"),        M("encoder"),    M("decoder"),
    M("capture"),   M("blit"),       M("region"),     M("damage"),     M("scaling"),
    M("bandwidth"), M("qos"),        M("latency"),    M("jitter"),     M("congestion"),
    M("netstat"),   M("heartbeat"),  M("keepalive"),  M("reconnect"),  M("auth"),
    M("authz"),     M("sso"),        M("certauth"),   M("cert"),       M("pki"),
    M("keystore"),  M("license"),    M("policy"),     M("collab"),     M("share"),
    M("filexfer"),  M("cdr"),        M("mmr"),        M("urlredir"),   M("locale"),
    M("timezone"),  M("keymap"),     M("ime"),        M("a11y"),       M("multimon"),
    M("topology"),  M("perf"),       M("trace"),      M("metrics"),    M("telemetry"),
    M("health"),    M("watchdog"),   M("update"),     M("install"),    M("uninstall"),
    M("service"),   M("daemon"),     M("systemd"),    M("pam"),        M("polkit"),
    M("selinux"),   M("apparmor"),   M("seccomp"),    M("cgroup"),     M("capability"),
    M("mem"),       M("heap"),       M("pool"),       M("hash"),
};

static_assert(sizeof logModules / sizeof logModules[0] == LOG_MODULE_COUNT, "one row per module");
