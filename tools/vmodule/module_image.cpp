#include "tools/vmodule/module_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

namespace {

bool Fail(std::string* error, const std::string& what, int e)
{
    if (error) *error = what + ": " + std::strerror(e);
    return false;
}

// Reads exactly buf.size() bytes; any other length is refused.
template <size_t N>
TImageLoad ReadExactly(const std::string& path, std::array<uint8_t, N>* out, const char* what, std::string* error)
{
    // Not blocking, and only a regular file: a FIFO or a device is refused at once.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT) return TImageLoad::Missing;
        Fail(error, "cannot open " + path, errno);
        return TImageLoad::Failed;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (error) *error = path + " is not a regular file";
        ::close(fd);
        return TImageLoad::Failed;
    }
    std::array<uint8_t, N> buf;
    size_t got = 0;
    char extra = 0;
    bool ok = true;
    while (got < buf.size()) {
        const ssize_t n = ::read(fd, buf.data() + got, buf.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ok = Fail(error, "cannot read " + path, errno);
            break;
        }
        if (n == 0) break;
        got += size_t(n);
    }
    if (ok && (got != buf.size() || ::read(fd, &extra, 1) != 0)) {
        if (error) *error = path + " is not " + what + " (" + std::to_string(N) + " bytes expected)";
        ok = false;
    }
    ::close(fd);
    if (!ok) return TImageLoad::Failed;
    *out = buf;
    return TImageLoad::Loaded;
}

}  // namespace

TImageLoad LoadModuleImage(const std::string& path, TModuleImage* image, std::string* error)
{
    return ReadExactly(path, image, "a module image", error);
}

bool LoadConfigMemory(const std::string& path, TConfigMemory* memory, std::string* error)
{
    switch (ReadExactly(path, memory, "a configuration memory image", error)) {
    case TImageLoad::Loaded:
        return true;
    case TImageLoad::Missing:
        Fail(error, "cannot open " + path, ENOENT);
        return false;
    default:
        return false;
    }
}

bool SaveModuleImage(const std::string& path, const TModuleImage& image, std::string* error)
{
    // The image holds the key: owner only, through a temporary file of our
    // own (exclusive, never one someone placed there, nor a link).
    std::string tmp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        tmp = path + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(std::random_device{}());
        fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) return Fail(error, "cannot create " + tmp, errno);
    size_t done = 0;
    while (done < image.size()) {
        const ssize_t n = ::write(fd, image.data() + done, image.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int e = errno;
            ::close(fd);
            ::unlink(tmp.c_str());
            return Fail(error, "cannot write " + tmp, e);
        }
        done += size_t(n);
    }
    if (::close(fd) != 0) {
        const int e = errno;
        ::unlink(tmp.c_str());
        return Fail(error, "cannot write " + tmp, e);
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        const int e = errno;
        ::unlink(tmp.c_str());
        return Fail(error, "cannot replace " + path, e);
    }
    return true;
}
