#pragma once
// An owned file descriptor, closed when it goes out of scope. Move-only; any
// thread may use its own instance.

#include <cerrno>
#include <system_error>

#include <unistd.h>

namespace unique_fd {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~UniqueFd() { reset(); }

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }

    // Gives up ownership without closing.
    int release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

    // Closes the held descriptor (if any) and takes `fd`.
    void reset(int fd = -1) {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = fd;
    }

    // Closes now and reports the close error: some file systems report write
    // errors only here.
    std::error_code close() {
        const int fd = release();
        if (fd >= 0 && ::close(fd) != 0) return {errno, std::generic_category()};
        return {};
    }

private:
    int m_fd = -1;
};

}  // namespace unique_fd
