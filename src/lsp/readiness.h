// poll/select for programs that wait on a socket whose proxy handshake is still running: such
// a socket's readiness would tell of the proxy, not of the destination, so it is waited for
// through its "done" eventfd instead and reported once the handshake has ended (writable when
// it succeeded; failed as a refused connection when it did not). Only used while some socket
// is pending; otherwise the hooks call the C library directly.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/select.h>
#include <time.h>

// ppoll(2) semantics.
int PollWithPending(pollfd* fds, nfds_t count, const timespec* timeout, const sigset_t* mask);

// pselect(2) semantics, carried out through PollWithPending.
int SelectWithPending(int nfds, fd_set* readfds, fd_set* writefds, fd_set* exceptfds,
                      const timespec* timeout, const sigset_t* mask);
