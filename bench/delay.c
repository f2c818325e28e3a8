/* A delay line for the benchmark: holds every packet of one NFQUEUE queue for a fixed time, then
 * lets it go, in arrival order. This kernel has no netem; iptables NFQUEUE rules in the
 * benchmark's own network namespace send the packets here.
 *   delay QUEUE MILLISECONDS SECONDS_TO_LIVE */
#include <arpa/inet.h>
#include <errno.h>
#include <linux/netfilter.h>
#include <libnetfilter_queue/libnetfilter_queue.h>
#include <poll.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#define HELD_MAX 65536

static struct { uint32_t id; uint64_t due; } held[HELD_MAX];
static unsigned first, count;
static uint64_t delay_us;

static uint64_t now_us(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (uint64_t)t.tv_sec * 1000000u + (uint64_t)t.tv_nsec / 1000u;
}

static int on_packet(struct nfq_q_handle *queue, struct nfgenmsg *message, struct nfq_data *data, void *unused)
{
    (void)message, (void)unused;
    struct nfqnl_msg_packet_hdr *header = nfq_get_msg_packet_hdr(data);
    uint32_t id = header != NULL ? ntohl(header->packet_id) : 0;
    if (count == HELD_MAX)  /* never in a bounded run; let it pass rather than lose it */
        return nfq_set_verdict(queue, id, NF_ACCEPT, 0, NULL);
    unsigned at = (first + count++) % HELD_MAX;
    held[at].id = id;
    held[at].due = now_us() + delay_us;
    return 0;
}

int main(int argc, char **argv)
{
    if (argc != 4) {
        fprintf(stderr, "usage: delay QUEUE MILLISECONDS SECONDS_TO_LIVE\n");
        return 2;
    }
    delay_us = strtoull(argv[2], NULL, 10) * 1000u;
    uint64_t end = now_us() + strtoull(argv[3], NULL, 10) * 1000000u;
    struct nfq_handle *handle = nfq_open();
    struct nfq_q_handle *queue = handle != NULL ? nfq_create_queue(handle, (uint16_t)atoi(argv[1]), on_packet, NULL) : NULL;
    if (queue == NULL || nfq_set_mode(queue, NFQNL_COPY_META, 0) < 0) {
        fprintf(stderr, "delay: cannot open the queue\n");
        return 1;
    }
    nfq_set_queue_maxlen(queue, HELD_MAX);
    int fd = nfq_fd(handle);
    char buffer[65536];
    /* Bounded: it stops by itself even if nobody stops it. */
    while (now_us() < end) {
        int wait_ms = 100;
        if (count > 0) {
            uint64_t now = now_us(), due = held[first].due;
            wait_ms = due <= now ? 0 : (int)((due - now + 999) / 1000);
            if (wait_ms > 100)
                wait_ms = 100;
        }
        struct pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, wait_ms) > 0) {
            ssize_t length = recv(fd, buffer, sizeof buffer, 0);
            if (length > 0)
                nfq_handle_packet(handle, buffer, (int)length);
            else if (length < 0 && errno == ENOBUFS)
                fprintf(stderr, "delay: queue overrun\n");
        }
        for (uint64_t now = now_us(); count > 0 && held[first].due <= now; count--, first = (first + 1) % HELD_MAX)
            nfq_set_verdict(queue, held[first].id, NF_ACCEPT, 0, NULL);
    }
    while (count > 0) {
        nfq_set_verdict(queue, held[first].id, NF_ACCEPT, 0, NULL);
        first = (first + 1) % HELD_MAX;
        count--;
    }
    nfq_destroy_queue(queue);
    nfq_close(handle);
    return 0;
}
