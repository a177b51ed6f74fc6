// SPDX-License-Identifier: MIT
#include "TestSupport.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// In the child: takes hold of the file; false when it cannot.
bool Hold(const std::string& path, THoldMode mode)
{
    const int fd = open(path.c_str(), mode == THoldMode::Read ? O_RDONLY : O_RDWR);
    if (fd < 0) return false;
    switch (mode) {
    case THoldMode::Read:
    case THoldMode::Write: return true;
    case THoldMode::Map: {
        // The mapping alone keeps the file: the descriptor is closed.
        void* map = mmap(nullptr, 32, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        close(fd);
        return map != MAP_FAILED;
    }
    case THoldMode::Flock: return flock(fd, LOCK_EX | LOCK_NB) == 0;
    case THoldMode::OfdLock: {
        struct flock whole {};
        whole.l_type = F_WRLCK;
        whole.l_whence = SEEK_SET;
        return fcntl(fd, F_OFD_SETLK, &whole) == 0;
    }
    }
    return false;
}

}  // namespace

THoldingProcess::THoldingProcess(const std::string& path, THoldMode mode)
{
    int ready[2];
    int release[2];
    if (pipe(ready) != 0) return;
    if (pipe(release) != 0) {
        close(ready[0]);
        close(ready[1]);
        return;
    }
    FPid = fork();
    if (FPid == 0) {
        close(ready[0]);
        close(release[1]);
        const char answer = Hold(path, mode) ? 'y' : 'n';
        (void)!write(ready[1], &answer, 1);
        char ignored;
        (void)!read(release[0], &ignored, 1);  // returns when the parent closes its end
        _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    FRelease = release[1];
    char answer = 'n';
    FHolding = FPid > 0 && read(ready[0], &answer, 1) == 1 && answer == 'y';
    close(ready[0]);
}

THoldingProcess::~THoldingProcess()
{
    if (FRelease >= 0) close(FRelease);
    if (FPid > 0) waitpid(FPid, nullptr, 0);
}
