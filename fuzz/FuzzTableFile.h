// SPDX-License-Identifier: MIT
// The one table file a fuzz target writes each input to, in a folder in
// memory where there is one, so that the flush after every write is cheap;
// and the rules a target checks, a broken one ending the run.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

inline std::string& TablePath()
{
    static std::string path;
    return path;
}

// DBF_FUZZ_DIR, else /dev/shm, else /tmp; removed when the run ends.
inline void InitTablePath()
{
    const char* folder = std::getenv("DBF_FUZZ_DIR");
    if (folder == nullptr) folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    TablePath() = std::string(folder) + "/dbf-fuzz-" + std::to_string(getpid()) + ".dbf";
    std::atexit([] { unlink(TablePath().c_str()); });
}

// The file is written with plain POSIX calls and closed at once, so that the
// table object finds nobody else holding it.
inline void WriteTable(const std::uint8_t* data, std::size_t size)
{
    const int fd = open(TablePath().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::perror(TablePath().c_str());
        std::abort();
    }
    while (size > 0) {
        const ssize_t put = write(fd, data, size);
        if (put <= 0) {
            std::perror(TablePath().c_str());
            std::abort();
        }
        data += put;
        size -= static_cast<std::size_t>(put);
    }
    close(fd);
}

// The table file's bytes as they are now.
inline std::vector<char> TableFileBytes()
{
    std::ifstream in(TablePath(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void Require(bool holds, const char* rule)
{
    if (holds) return;
    std::fprintf(stderr, "Broken rule: %s\n", rule);
    std::abort();
}
