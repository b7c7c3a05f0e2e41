// One loop for moving a whole buffer through read, write, send or recv, which may each move less.
#pragma once

#include <cerrno>
#include <cstddef>
#include <sys/types.h>

// Calls `call(data, size)` until all `size` bytes have gone through, retrying after a signal;
// false when a call fails or the other end has closed (a call that moves nothing).
template <typename Byte, typename Call> bool transferWhole(Byte* data, size_t size, Call call) {
    while (size > 0) {
        const ssize_t n = call(data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}
