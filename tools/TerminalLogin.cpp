#include "tools/TerminalLogin.h"

#include <cstdio>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace vemo::tool {

namespace {

class Tty {
public:
    Tty() : fd_(::open("/dev/tty", O_RDWR | O_CLOEXEC)) {}
    ~Tty() {
        if (restore_)
            ::tcsetattr(fd_, TCSAFLUSH, &saved_);
        if (fd_ >= 0)
            ::close(fd_);
    }
    Tty(const Tty&) = delete;
    Tty& operator=(const Tty&) = delete;

    bool ok() const { return fd_ >= 0; }
    void write(const std::string& s) const { (void)!::write(fd_, s.data(), s.size()); }
    void echo(bool on) {
        termios t{};
        if (::tcgetattr(fd_, &t) != 0)
            return;
        if (!restore_) {
            saved_ = t;
            restore_ = true;
        }
        if (on) t.c_lflag |= ECHO;
        else t.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(fd_, TCSAFLUSH, &t);
    }
    bool readLine(std::string& line) const {
        line.clear();
        char c;
        while (true) {
            const ssize_t n = ::read(fd_, &c, 1);
            if (n <= 0)
                return !line.empty();
            if (c == '\n')
                return true;
            if (c != '\r')
                line += c;
        }
    }

private:
    int fd_;
    termios saved_{};
    bool restore_ = false;
};

} // namespace

bool terminalLogin(const std::string& alias, std::string& user, std::string& password) {
    Tty tty;
    if (!tty.ok())
        return false;
    if (user.empty()) {
        tty.write("User name for " + alias + ": ");
        if (!tty.readLine(user))
            return false;
    }
    tty.write("Password for " + user + "@" + alias + ": ");
    tty.echo(false);
    const bool got = tty.readLine(password);
    tty.echo(true);
    tty.write("\n");
    return got;
}

} // namespace vemo::tool
