/* A resolver that stops answering on request, preloaded into the programs
 * under test (with_servers.sh --stuck-names builds it with the system's cc).
 *
 * Names under .stuck.test resolve to 127.0.0.1. While the file named by
 * ORVANTIS_STUCK_HOLD exists, a lookup of such a name waits instead, as for a
 * DNS server that swallows queries, until the file goes (or kHoldLimitMs
 * passed), and then fails. Each wait is logged to ORVANTIS_STUCK_LOG as
 * "EVENT resolving <name>" in the radio server's log format. Every other
 * name goes to the next resolver as it was.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <netdb.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

typedef int (*getaddrinfo_fn)(const char *, const char *, const struct addrinfo *,
                              struct addrinfo **);

static const char kSuffix[] = ".stuck.test";
static const char kAddress[] = "127.0.0.1";
enum { kPollMs = 20, kHoldLimitMs = 30000, kLogLine = 512 };

static getaddrinfo_fn next_getaddrinfo;
static pthread_once_t found_next = PTHREAD_ONCE_INIT;

static void find_next(void) {
    next_getaddrinfo = (getaddrinfo_fn)dlsym(RTLD_NEXT, "getaddrinfo");
}

static int is_stuck_name(const char *node) {
    const size_t n = strlen(node), s = sizeof kSuffix - 1;
    return n > s && strcasecmp(node + n - s, kSuffix) == 0;
}

static int held(void) {
    const char *hold = getenv("ORVANTIS_STUCK_HOLD");
    return hold && *hold && access(hold, F_OK) == 0;
}

/* One write per entry, so that entries of other writers stay whole. */
static void log_event(const char *node) {
    const char *path = getenv("ORVANTIS_STUCK_LOG");
    if (!path || !*path) return;
    char line[kLogLine];
    const int n = snprintf(line, sizeof line, "EVENT resolving %s\n----\n", node);
    if (n <= 0 || n >= (int)sizeof line) return;
    const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    if (write(fd, line, (size_t)n) != n) {
        /* a lost entry only makes a test wait for it in vain */
    }
    close(fd);
}

int getaddrinfo(const char *node, const char *service, const struct addrinfo *hints,
                struct addrinfo **res) {
    pthread_once(&found_next, find_next);
    if (!next_getaddrinfo) return EAI_SYSTEM;
    /* A lookup for numbers only asks no resolver. */
    const int numeric = hints && (hints->ai_flags & AI_NUMERICHOST);
    if (!node || numeric || !is_stuck_name(node)) return next_getaddrinfo(node, service, hints, res);
    if (held()) {
        log_event(node);
        const struct timespec poll = {0, kPollMs * 1000000L};
        for (int waited = 0; held() && waited < kHoldLimitMs; waited += kPollMs)
            nanosleep(&poll, NULL);
        return EAI_AGAIN;
    }
    struct addrinfo address;
    memset(&address, 0, sizeof address);
    if (hints) address = *hints;
    if (address.ai_family != AF_UNSPEC && address.ai_family != AF_INET) return EAI_NONAME;
    address.ai_flags |= AI_NUMERICHOST;
    address.ai_family = AF_INET;
    return next_getaddrinfo(kAddress, service, &address, res);
}
