/* A read-only FUSE filesystem holding one file, a copy-free view of an image
 * file, whose reads fail with EIO when they touch chosen 512-byte sectors: the
 * sector reader's error paths meet a real I/O error.
 *
 *   faultfs --image=FILE [--name=NAME] [--bad=LIST] [--log=FILE]
 *           [--slow=LIST --delay-ms=N] [--heal=LIST --heal-after=N] [--log-times]
 *           -f MOUNTPOINT
 *
 * LIST is comma-separated sectors and ranges ("45,47,90-99"). Reads touching a
 * slow sector take N ms longer; reads touching a healing range fail the first N
 * times that range is touched, then succeed (a weak area that a retry gets
 * through). Each read request
 * is appended to the log as "<offset> <size> <ok|EIO>", so a test can see the
 * sizes that reached the medium. Files are served with direct_io: the kernel
 * passes each read through at the size the reader asked for. */
#define FUSE_USE_VERSION 31

#include <errno.h>
#include <fcntl.h>
#include <fuse.h>
#include <inttypes.h>
#include <pthread.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

struct options {
    const char* image;
    const char* name;
    const char* bad;
    const char* log;
    const char* slow;
    const char* heal;
    int delayMs;
    int healAfter;
    int logTimes;
};

static struct options opts;
static int imageFd = -1;
static int logFd = -1;
static char servedPath[4096];

struct range {
    uint64_t first, last;
};
struct rangeList {
    struct range* items;
    unsigned* touched; /* per range: reads that met it so far (healing ranges) */
    size_t count;
};
static struct rangeList bad, slow, heal;
static pthread_mutex_t healLock = PTHREAD_MUTEX_INITIALIZER;

#define OPTION(t, p) \
    { t, offsetof(struct options, p), 1 }
static const struct fuse_opt optionSpec[] = {OPTION("--image=%s", image),
                                             OPTION("--name=%s", name),
                                             OPTION("--bad=%s", bad),
                                             OPTION("--log=%s", log),
                                             OPTION("--slow=%s", slow),
                                             OPTION("--heal=%s", heal),
                                             OPTION("--delay-ms=%d", delayMs),
                                             OPTION("--heal-after=%d", healAfter),
                                             {"--log-times", offsetof(struct options, logTimes), 1},
                                             FUSE_OPT_END};

static int parseList(const char* text, struct rangeList* list) {
    const char* p = text;
    while (*p) {
        char* end;
        uint64_t first = strtoull(p, &end, 10), last = first;
        if (end == p) return -1;
        if (*end == '-') {
            p = end + 1;
            last = strtoull(p, &end, 10);
            if (end == p || last < first) return -1;
        }
        list->items = realloc(list->items, (list->count + 1) * sizeof *list->items);
        list->touched = realloc(list->touched, (list->count + 1) * sizeof *list->touched);
        if (!list->items || !list->touched) return -1;
        list->touched[list->count] = 0;
        list->items[list->count++] = (struct range){first, last};
        p = end;
        if (*p == ',')
            ++p;
        else if (*p)
            return -1;
    }
    return 0;
}

/* The index of the first range of list that the read touches, or -1. */
static long touchedRange(const struct rangeList* list, off_t offset, size_t size, size_t from) {
    if (size == 0) return -1;
    const uint64_t first = (uint64_t)offset / 512, last = ((uint64_t)offset + size - 1) / 512;
    for (size_t i = from; i < list->count; ++i)
        if (list->items[i].first <= last && first <= list->items[i].last) return (long)i;
    return -1;
}

/* Counts the read against every healing range it touches; true while one of
 * them has not yet failed its share of reads. */
static int stillFailing(off_t offset, size_t size) {
    int failing = 0;
    pthread_mutex_lock(&healLock);
    for (long i = touchedRange(&heal, offset, size, 0); i >= 0;
         i = touchedRange(&heal, offset, size, (size_t)i + 1))
        if (heal.touched[i]++ < (unsigned)opts.healAfter) failing = 1;
    pthread_mutex_unlock(&healLock);
    return failing;
}

static void logRead(off_t offset, size_t size, const char* outcome) {
    if (logFd < 0) return;
    char line[128];
    struct timespec now = {0, 0};
    if (opts.logTimes) clock_gettime(CLOCK_MONOTONIC, &now);
    /* --log-times adds the CLOCK_MONOTONIC microseconds at the answer (benchmarks). */
    const int n =
        opts.logTimes
            ? snprintf(line, sizeof line, "%" PRId64 " %zu %s %" PRId64 "\n", (int64_t)offset, size,
                       outcome, (int64_t)now.tv_sec * 1000000 + now.tv_nsec / 1000)
            : snprintf(line, sizeof line, "%" PRId64 " %zu %s\n", (int64_t)offset, size, outcome);
    /* One write per line on an O_APPEND descriptor: lines of parallel reads never mix. */
    if (n > 0 && write(logFd, line, (size_t)n) < 0) { /* the log is best effort */
    }
}

static void* fsInit(struct fuse_conn_info* conn, struct fuse_config* cfg) {
    (void)conn;
    cfg->direct_io = 1;
    cfg->kernel_cache = 0;
    cfg->attr_timeout = 0;
    return NULL;
}

static int fsGetattr(const char* path, struct stat* st, struct fuse_file_info* fi) {
    (void)fi;
    memset(st, 0, sizeof *st);
    if (strcmp(path, "/") == 0) {
        st->st_mode = S_IFDIR | 0555;
        st->st_nlink = 2;
        return 0;
    }
    if (strcmp(path, servedPath) != 0) return -ENOENT;
    struct stat image;
    if (fstat(imageFd, &image) != 0) return -errno;
    st->st_mode = S_IFREG | 0444;
    st->st_nlink = 1;
    st->st_size = image.st_size;
    return 0;
}

static int fsReaddir(const char* path, void* buf, fuse_fill_dir_t fill, off_t offset,
                     struct fuse_file_info* fi, enum fuse_readdir_flags flags) {
    (void)offset, (void)fi, (void)flags;
    if (strcmp(path, "/") != 0) return -ENOENT;
    fill(buf, ".", NULL, 0, 0);
    fill(buf, "..", NULL, 0, 0);
    fill(buf, servedPath + 1, NULL, 0, 0);
    return 0;
}

static int fsOpen(const char* path, struct fuse_file_info* fi) {
    if (strcmp(path, servedPath) != 0) return -ENOENT;
    if ((fi->flags & O_ACCMODE) != O_RDONLY) return -EROFS;
    fi->direct_io = 1;
    return 0;
}

static int fsRead(const char* path, char* buf, size_t size, off_t offset,
                  struct fuse_file_info* fi) {
    (void)fi;
    if (strcmp(path, servedPath) != 0) return -ENOENT;
    if (opts.delayMs > 0 && touchedRange(&slow, offset, size, 0) >= 0) {
        const struct timespec delay = {opts.delayMs / 1000, (long)(opts.delayMs % 1000) * 1000000};
        nanosleep(&delay, NULL);
    }
    if (touchedRange(&bad, offset, size, 0) >= 0 || stillFailing(offset, size)) {
        logRead(offset, size, "EIO");
        return -EIO;
    }
    size_t done = 0;
    while (done < size) {
        const ssize_t n = pread(imageFd, buf + done, size - done, offset + (off_t)done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -errno;
        if (n == 0) break;
        done += (size_t)n;
    }
    logRead(offset, size, "ok");
    return (int)done;
}

static const struct fuse_operations operations = {
    .init = fsInit,
    .getattr = fsGetattr,
    .readdir = fsReaddir,
    .open = fsOpen,
    .read = fsRead,
};

int main(int argc, char* argv[]) {
    struct fuse_args args = FUSE_ARGS_INIT(argc, argv);
    if (fuse_opt_parse(&args, &opts, optionSpec, NULL) != 0) return 2;
    if (!opts.image) {
        fprintf(stderr, "faultfs: --image=FILE is required\n");
        return 2;
    }
    imageFd = open(opts.image, O_RDONLY | O_CLOEXEC);
    if (imageFd < 0) {
        perror(opts.image);
        return 2;
    }
    const char* name = opts.name ? opts.name : "disk.img";
    if (strchr(name, '/') || strlen(name) + 2 > sizeof servedPath) {
        fprintf(stderr, "faultfs: bad --name\n");
        return 2;
    }
    snprintf(servedPath, sizeof servedPath, "/%s", name);
    if ((opts.bad && parseList(opts.bad, &bad) != 0) ||
        (opts.slow && parseList(opts.slow, &slow) != 0) ||
        (opts.heal && parseList(opts.heal, &heal) != 0)) {
        fprintf(stderr, "faultfs: cannot read a sector list\n");
        return 2;
    }
    if (opts.log) {
        logFd = open(opts.log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (logFd < 0) {
            perror(opts.log);
            return 2;
        }
    }
    const int status = fuse_main(args.argc, args.argv, &operations, NULL);
    fuse_opt_free_args(&args);
    return status;
}
