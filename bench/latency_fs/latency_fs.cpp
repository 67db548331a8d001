// vellico-latency-fs: a FUSE file system that passes everything through to a
// source directory and sleeps a fixed delay in every request it answers.
//
//   vellico-latency-fs SOURCE MOUNTPOINT [-f] [-o delay_us=N,threads=N] [FUSE options]
//
// It stands for a network share whose only cost is the round trip: each
// request waits `delay_us` microseconds (default 1000) asleep, then does the
// one system call it stands for on SOURCE, so it costs almost no processor
// time and many requests may wait at once (the loop is multithreaded, up to
// `threads`, by default 256). What a benchmark measures through it is how
// well a tree walk hides latency, not how fast a disk or a processor is.
//
// Inode numbers are those of SOURCE (`use_ino`), so that identities seen
// through the mount stay stable. Kernel caching is left to the usual FUSE
// options (`entry_timeout`, `attr_timeout`, `negative_timeout`).
//
// SIGUSR1 makes it stop answering, as a share whose network is gone: every
// request, those under way included, waits until SIGUSR2.

#define FUSE_USE_VERSION 314

#include <fuse3/fuse.h>
#include <fuse3/fuse_lowlevel.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

struct Options {
    char* source = nullptr;
    unsigned delayUs = 1000;
    unsigned threads = 256;
    int sourceFd = -1;
};

Options g_options;
std::atomic<bool> g_stalled{false};

void stall(int /*signal*/)
{
    g_stalled.store(true);
}

void answer(int /*signal*/)
{
    g_stalled.store(false);
}

// Every request waits here first: asleep, so that waiting costs no
// processor time and any number of requests may wait side by side.
void delay()
{
    while (g_stalled.load()) {
        timespec tick{0, 10 * 1000 * 1000};
        nanosleep(&tick, nullptr);
    }
    if (g_options.delayUs == 0) {
        return;
    }
    timespec left{static_cast<time_t>(g_options.delayUs / 1000000),
                  static_cast<long>(g_options.delayUs % 1000000) * 1000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

// A path of the mount ("/a/b") as a path relative to the source ("a/b").
const char* relative(const char* path)
{
    while (*path == '/') {
        ++path;
    }
    return *path == '\0' ? "." : path;
}

int result(int rc)
{
    return rc < 0 ? -errno : rc;
}

struct Directory {
    DIR* dir = nullptr;
    off_t offset = 0;
    dirent* entry = nullptr;
};

Directory* directoryOf(fuse_file_info* fi)
{
    return reinterpret_cast<Directory*>(static_cast<std::uintptr_t>(fi->fh));
}

void* init(fuse_conn_info* conn, fuse_config* cfg)
{
    // Lookups and listings of one directory side by side, as on a real
    // share: without this the kernel sends them one at a time.
    // (Measured on a 6.18 kernel: lookups of one directory still came one at
    // a time with it; lookups of different directories went side by side.)
    if ((conn->capable & FUSE_CAP_PARALLEL_DIROPS) != 0) {
        conn->want |= FUSE_CAP_PARALLEL_DIROPS;
    }
    cfg->use_ino = 1;
    cfg->readdir_ino = 1;
    return nullptr;
}

int getattr(const char* path, struct stat* st, fuse_file_info* fi)
{
    delay();
    if (fi != nullptr) {
        return result(::fstat(static_cast<int>(fi->fh), st));
    }
    return result(::fstatat(g_options.sourceFd, relative(path), st, AT_SYMLINK_NOFOLLOW));
}

int readlink(const char* path, char* buffer, size_t size)
{
    delay();
    if (size == 0) {
        return -EINVAL;
    }
    const ssize_t n = ::readlinkat(g_options.sourceFd, relative(path), buffer, size - 1);
    if (n < 0) {
        return -errno;
    }
    buffer[n] = '\0';
    return 0;
}

int mknod(const char* path, mode_t mode, dev_t rdev)
{
    delay();
    return result(::mknodat(g_options.sourceFd, relative(path), mode, rdev));
}

int mkdir(const char* path, mode_t mode)
{
    delay();
    return result(::mkdirat(g_options.sourceFd, relative(path), mode));
}

int unlink(const char* path)
{
    delay();
    return result(::unlinkat(g_options.sourceFd, relative(path), 0));
}

int rmdir(const char* path)
{
    delay();
    return result(::unlinkat(g_options.sourceFd, relative(path), AT_REMOVEDIR));
}

int symlink(const char* target, const char* path)
{
    delay();
    return result(::symlinkat(target, g_options.sourceFd, relative(path)));
}

int rename(const char* from, const char* to, unsigned int flags)
{
    delay();
    return result(
        ::renameat2(g_options.sourceFd, relative(from), g_options.sourceFd, relative(to), flags));
}

int link(const char* from, const char* to)
{
    delay();
    return result(
        ::linkat(g_options.sourceFd, relative(from), g_options.sourceFd, relative(to), 0));
}

int chmod(const char* path, mode_t mode, fuse_file_info* fi)
{
    delay();
    if (fi != nullptr) {
        return result(::fchmod(static_cast<int>(fi->fh), mode));
    }
    return result(::fchmodat(g_options.sourceFd, relative(path), mode, 0));
}

int chown(const char* path, uid_t uid, gid_t gid, fuse_file_info* fi)
{
    delay();
    if (fi != nullptr) {
        return result(::fchown(static_cast<int>(fi->fh), uid, gid));
    }
    return result(::fchownat(g_options.sourceFd, relative(path), uid, gid, AT_SYMLINK_NOFOLLOW));
}

int truncate(const char* path, off_t size, fuse_file_info* fi)
{
    delay();
    if (fi != nullptr) {
        return result(::ftruncate(static_cast<int>(fi->fh), size));
    }
    const int fd = ::openat(g_options.sourceFd, relative(path), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return -errno;
    }
    const int rc = result(::ftruncate(fd, size));
    ::close(fd);
    return rc;
}

int utimens(const char* path, const timespec times[2], fuse_file_info* fi)
{
    delay();
    if (fi != nullptr) {
        return result(::futimens(static_cast<int>(fi->fh), times));
    }
    return result(::utimensat(g_options.sourceFd, relative(path), times, AT_SYMLINK_NOFOLLOW));
}

int open(const char* path, fuse_file_info* fi)
{
    delay();
    const int fd = ::openat(g_options.sourceFd, relative(path), fi->flags | O_CLOEXEC);
    if (fd < 0) {
        return -errno;
    }
    fi->fh = static_cast<std::uint64_t>(fd);
    return 0;
}

int create(const char* path, mode_t mode, fuse_file_info* fi)
{
    delay();
    const int fd =
        ::openat(g_options.sourceFd, relative(path), fi->flags | O_CREAT | O_CLOEXEC, mode);
    if (fd < 0) {
        return -errno;
    }
    fi->fh = static_cast<std::uint64_t>(fd);
    return 0;
}

int read(const char* /*path*/, char* buffer, size_t size, off_t offset, fuse_file_info* fi)
{
    delay();
    const ssize_t n = ::pread(static_cast<int>(fi->fh), buffer, size, offset);
    return n < 0 ? -errno : static_cast<int>(n);
}

int write(const char* /*path*/, const char* buffer, size_t size, off_t offset, fuse_file_info* fi)
{
    delay();
    const ssize_t n = ::pwrite(static_cast<int>(fi->fh), buffer, size, offset);
    return n < 0 ? -errno : static_cast<int>(n);
}

int statfs(const char* /*path*/, struct statvfs* st)
{
    delay();
    return result(::fstatvfs(g_options.sourceFd, st));
}

int flush(const char* /*path*/, fuse_file_info* fi)
{
    delay();
    // What close() would report on the source: an error of a delayed write.
    const int fd = ::dup(static_cast<int>(fi->fh));
    if (fd < 0) {
        return -errno;
    }
    return result(::close(fd));
}

int release(const char* /*path*/, fuse_file_info* fi)
{
    delay();
    ::close(static_cast<int>(fi->fh));
    return 0;
}

int fsync(const char* /*path*/, int dataOnly, fuse_file_info* fi)
{
    delay();
    const int fd = static_cast<int>(fi->fh);
    return result(dataOnly != 0 ? ::fdatasync(fd) : ::fsync(fd));
}

int access(const char* path, int mask)
{
    delay();
    return result(::faccessat(g_options.sourceFd, relative(path), mask, 0));
}

int opendir(const char* path, fuse_file_info* fi)
{
    delay();
    const int fd = ::openat(g_options.sourceFd, relative(path), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return -errno;
    }
    auto* directory = new Directory;
    directory->dir = ::fdopendir(fd);
    if (directory->dir == nullptr) {
        const int error = errno;
        ::close(fd);
        delete directory;
        return -error;
    }
    fi->fh = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(directory));
    return 0;
}

int readdir(const char* /*path*/, void* buffer, fuse_fill_dir_t fill, off_t offset,
            fuse_file_info* fi, fuse_readdir_flags /*flags*/)
{
    delay();
    Directory* directory = directoryOf(fi);
    if (offset != directory->offset) {
        ::seekdir(directory->dir, offset);
        directory->entry = nullptr;
        directory->offset = offset;
    }
    for (;;) {
        if (directory->entry == nullptr) {
            errno = 0;
            directory->entry = ::readdir(directory->dir);
            if (directory->entry == nullptr) {
                return errno != 0 ? -errno : 0;
            }
        }
        // The type goes with the name, as local file systems give it: the
        // kernel hands it on as d_type.
        struct stat st {};
        st.st_ino = directory->entry->d_ino;
        st.st_mode = static_cast<mode_t>(DTTOIF(directory->entry->d_type));
        const off_t next = ::telldir(directory->dir);
        if (fill(buffer, directory->entry->d_name, &st, next,
                 static_cast<fuse_fill_dir_flags>(0)) != 0) {
            return 0; // the reply is full: this entry goes in the next one
        }
        directory->entry = nullptr;
        directory->offset = next;
    }
}

int releasedir(const char* /*path*/, fuse_file_info* fi)
{
    delay();
    Directory* directory = directoryOf(fi);
    ::closedir(directory->dir);
    delete directory;
    return 0;
}

int fallocate(const char* /*path*/, int mode, off_t offset, off_t length, fuse_file_info* fi)
{
    delay();
    return result(::fallocate(static_cast<int>(fi->fh), mode, offset, length));
}

off_t lseek(const char* /*path*/, off_t offset, int whence, fuse_file_info* fi)
{
    delay();
    const off_t at = ::lseek(static_cast<int>(fi->fh), offset, whence);
    return at < 0 ? -errno : at;
}

fuse_operations operations()
{
    fuse_operations ops{};
    ops.init = init;
    ops.getattr = getattr;
    ops.readlink = readlink;
    ops.mknod = mknod;
    ops.mkdir = mkdir;
    ops.unlink = unlink;
    ops.rmdir = rmdir;
    ops.symlink = symlink;
    ops.rename = rename;
    ops.link = link;
    ops.chmod = chmod;
    ops.chown = chown;
    ops.truncate = truncate;
    ops.utimens = utimens;
    ops.open = open;
    ops.create = create;
    ops.read = read;
    ops.write = write;
    ops.statfs = statfs;
    ops.flush = flush;
    ops.release = release;
    ops.fsync = fsync;
    ops.access = access;
    ops.opendir = opendir;
    ops.readdir = readdir;
    ops.releasedir = releasedir;
    ops.fallocate = fallocate;
    ops.lseek = lseek;
    return ops;
}

const fuse_opt kOptions[] = {
    {"delay_us=%u", offsetof(Options, delayUs), 0},
    {"threads=%u", offsetof(Options, threads), 0},
    FUSE_OPT_END,
};

// The first argument that is not an option is the source; the rest (the
// mount point, FUSE's own options) go on to FUSE.
int takeSource(void* data, const char* arg, int key, fuse_args* /*out*/)
{
    auto* options = static_cast<Options*>(data);
    if (key == FUSE_OPT_KEY_NONOPT && options->source == nullptr) {
        options->source = ::strdup(arg);
        return 0;
    }
    return 1;
}

void usage(const char* program)
{
    std::fprintf(stderr,
                 "usage: %s SOURCE MOUNTPOINT [-f] [-o delay_us=N,threads=N] [FUSE options]\n"
                 "  delay_us=N   sleep N microseconds in every request (default 1000)\n"
                 "  threads=N    answer up to N requests at once (default 256)\n"
                 "  every request is passed through to SOURCE; see fuse(8) for the rest\n",
                 program);
}

} // namespace

int main(int argc, char* argv[])
{
    fuse_args args = FUSE_ARGS_INIT(argc, argv);
    fuse_cmdline_opts cmdline{};
    if (fuse_opt_parse(&args, &g_options, kOptions, takeSource) != 0 ||
        fuse_parse_cmdline(&args, &cmdline) != 0) {
        return 2;
    }
    const auto done = [&](int status) {
        std::free(cmdline.mountpoint);
        std::free(g_options.source);
        fuse_opt_free_args(&args);
        return status;
    };
    if (cmdline.show_help != 0 || g_options.source == nullptr || cmdline.mountpoint == nullptr) {
        usage(argv[0]);
        return done(cmdline.show_help != 0 ? 0 : 2);
    }
    g_options.sourceFd = ::open(g_options.source, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (g_options.sourceFd < 0) {
        std::fprintf(stderr, "%s: %s: %s\n", argv[0], g_options.source, std::strerror(errno));
        return done(1);
    }
    struct sigaction action {};
    action.sa_handler = stall;
    sigemptyset(&action.sa_mask);
    sigaction(SIGUSR1, &action, nullptr);
    action.sa_handler = answer;
    sigaction(SIGUSR2, &action, nullptr);

    const fuse_operations ops = operations();
    fuse* fs = fuse_new(&args, &ops, sizeof(ops), nullptr);
    if (fs == nullptr) {
        return done(1);
    }
    int status = 1;
    if (fuse_mount(fs, cmdline.mountpoint) == 0) {
        fuse_session* session = fuse_get_session(fs);
        if (fuse_daemonize(cmdline.foreground) == 0 && fuse_set_signal_handlers(session) == 0) {
            // The loop's own default is 10 requests at once: a share answers
            // many more, and the benchmarks ask up to 64 at a time. Idle
            // threads are kept, so that a burst does not pay for new ones.
            fuse_loop_config* config = fuse_loop_cfg_create();
            fuse_loop_cfg_set_max_threads(config, g_options.threads);
            fuse_loop_cfg_set_idle_threads(config, g_options.threads);
            status = fuse_loop_mt(fs, config) == 0 ? 0 : 1;
            fuse_loop_cfg_destroy(config);
            fuse_remove_signal_handlers(session);
        }
        fuse_unmount(fs);
    }
    fuse_destroy(fs);
    ::close(g_options.sourceFd);
    return done(status);
}
