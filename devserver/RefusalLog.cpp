#include "RefusalLog.h"

#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace refusals {

namespace {
int g_fd = -1;

// One line per refusal, so that concurrent sessions and servers appending to one file never
// interleave inside an entry: number, tab, message, tab, the batch with its line breaks escaped.
std::string oneLine(const std::string& s) {
    std::string out;
    for (char c : s)
        out += c == '\n' ? std::string("\\n") : c == '\r' ? std::string() : c == '\t' ? std::string(" ") : std::string(1, c);
    return out;
}
} // namespace

void openFromEnvironment() {
    const char* path = std::getenv("ZELVARO_DEVSERVER_REFUSALS");
    if (path && *path)
        g_fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

void note(int number, const std::string& text, const std::string& batch) {
    if (g_fd < 0 || (number != 102 && number != 156 && number != 170 && number != 207 && number != 208))
        return;
    const std::string line = std::to_string(number) + "\t" + oneLine(text) + "\t" + oneLine(batch) + "\n";
    // A single append: the kernel places it whole at the end of the file.
    [[maybe_unused]] const ssize_t written = ::write(g_fd, line.data(), line.size());
}

} // namespace refusals
