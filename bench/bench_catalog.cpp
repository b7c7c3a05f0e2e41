// The stand-in's catalog at scale: how long CREATE DATABASE's bookkeeping (a free database id, the
// insertion) takes when the instance already holds 50,000 databases.
#include "Catalog.h"
#include "Storage.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

int main(int argc, char** argv) {
    const int existing = argc > 1 ? std::atoi(argv[1]) : 50000;
    char folder[] = "/tmp/zelvaro-bench-catalog-XXXXXX";
    if (!::mkdtemp(folder))
        return 1;
    // Ids with a gap every thousand, as drops leave them.
    std::string text = "# zelvaro catalog 2\n";
    for (int i = 0, id = 5; i < existing; ++i, ++id) {
        if (i % 1000 == 999)
            ++id;
        text += "db" + std::to_string(i) + "\t" + std::to_string(id) + "\t\t\tonline\n";
    }
    storage::writeAll(std::string(folder) + "/catalog.txt", text);
    Catalog catalog(folder);
    const int rounds = 20;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i) {
        std::lock_guard<std::mutex> lock(catalog.mutex());
        catalog.add("new" + std::to_string(i), {});
    }
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("catalog of %d databases: %.3f ms per added database (%d rounds)\n", existing, ms / rounds,
                rounds);
    ::unlink((std::string(folder) + "/catalog.txt").c_str());
    ::rmdir(folder);
    return 0;
}
