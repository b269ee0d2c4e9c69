// restrict-families FAMILY... -- PROGRAM [ARG...]
//
// Runs PROGRAM with socket() limited to the named address families, the way
// systemd's RestrictAddressFamilies= limits a service: a socket of any other
// family fails with EAFNOSUPPORT, everything else is left alone. Used to try
// the unit's sandbox on machines where systemd is not the init system.
// Families: AF_UNIX, AF_INET, AF_INET6, AF_NETLINK, AF_PACKET.
#include <errno.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

namespace {

#if defined(__x86_64__)
constexpr unsigned kArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr unsigned kArch = AUDIT_ARCH_AARCH64;
#else
#error "restrict-families knows the system call numbers of x86-64 and arm64 only"
#endif

int familyOf(std::string_view name) {
  if (name == "AF_UNIX") return AF_UNIX;
  if (name == "AF_INET") return AF_INET;
  if (name == "AF_INET6") return AF_INET6;
  if (name == "AF_NETLINK") return AF_NETLINK;
  if (name == "AF_PACKET") return AF_PACKET;
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> allowed;
  int i = 1;
  for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    const int family = familyOf(argv[i]);
    if (family < 0) {
      std::fprintf(stderr, "restrict-families: unknown family %s\n", argv[i]);
      return 2;
    }
    allowed.push_back(family);
  }
  if (i + 1 >= argc) {
    std::fprintf(stderr, "usage: restrict-families FAMILY... -- PROGRAM [ARG...]\n");
    return 2;
  }

  // Another architecture is killed rather than let through unfiltered;
  // socket() with an allowed family passes, with any other it fails.
  std::vector<sock_filter> f = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kArch, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_socket, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])),
  };
  for (std::size_t k = 0; k < allowed.size(); ++k) {
    const auto after = static_cast<unsigned char>(allowed.size() - k);
    f.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<unsigned>(allowed[k]), after, 0));
  }
  f.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EAFNOSUPPORT & SECCOMP_RET_DATA)));
  f.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));

  sock_fprog program{static_cast<unsigned short>(f.size()), f.data()};
  // A privileged caller installs the filter as it is; anyone else must give
  // up new privileges first, which the sandbox then has whether its unit
  // asked for NoNewPrivileges= or not.
  if (prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0 &&
      (errno != EACCES || prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
       prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)) {
    std::perror("restrict-families: seccomp");
    return 2;
  }
  execvp(argv[i + 1], argv + i + 1);
  std::perror("restrict-families: exec");
  return 127;
}
