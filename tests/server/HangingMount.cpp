// kestrava-hanging-mount MOUNTPOINT: mounts there, in the mount namespace it runs in, a FUSE file
// system that never answers a request, as a network share does when its server has gone, and
// keeps it so until it is killed. Its death ends the file system: every waiting call then fails.
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: kestrava-hanging-mount MOUNTPOINT\n");
    return 2;
  }
  const int fd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    std::fprintf(stderr, "kestrava-hanging-mount: /dev/fuse: %s\n", std::strerror(errno));
    return 1;
  }
  const std::string options = "fd=" + std::to_string(fd) +
                              ",rootmode=40000,user_id=" + std::to_string(::geteuid()) +
                              ",group_id=" + std::to_string(::getegid()) + ",allow_other";
  if (::mount("kestrava-hang", argv[1], "fuse.kestrava-hang", MS_NOSUID | MS_NODEV,
              options.c_str()) != 0) {
    std::fprintf(stderr, "kestrava-hanging-mount: mount: %s\n", std::strerror(errno));
    return 1;
  }
  for (;;) ::pause();  // nobody ever reads the device
}
