#include "host/host_pty.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

bool HostPtyOpen(HostPty* pty, const std::string& path, std::string* error)
{
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            *error = "'" + path + "' exists and is not a symbolic link";
            return false;
        }
        if (unlink(path.c_str()) != 0) {
            *error = "cannot replace '" + path + "': " + std::strerror(errno);
            return false;
        }
    }
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        *error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
        if (master >= 0)
            close(master);
        return false;
    }
    const char* name = ptsname(master);
    int slave = name != nullptr ? open(name, O_RDWR | O_NOCTTY) : -1;
    if (slave < 0) {
        *error = std::string("cannot open the pseudo-terminal's slave side: ") + std::strerror(errno);
        close(master);
        return false;
    }
    termios t {};
    if (tcgetattr(slave, &t) == 0) {
        cfmakeraw(&t);
        cfsetispeed(&t, B115200);
        cfsetospeed(&t, B115200);
        tcsetattr(slave, TCSANOW, &t);
    }
    if (symlink(name, path.c_str()) != 0) {
        *error = "cannot create '" + path + "': " + std::strerror(errno);
        close(slave);
        close(master);
        return false;
    }
    pty->master = master;
    pty->slave = slave;
    pty->link_path = path;
    pty->slave_name = name;
    return true;
}

void HostPtyClose(HostPty* pty)
{
    if (!pty->link_path.empty()) {
        struct stat st {};
        if (lstat(pty->link_path.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
            unlink(pty->link_path.c_str());
    }
    if (pty->slave >= 0)
        close(pty->slave);
    if (pty->master >= 0)
        close(pty->master);
    pty->slave = pty->master = -1;
    pty->link_path.clear();
}

bool HostPtyDtr(const HostPty* pty)
{
    termios t {};
    if (pty->slave < 0 || tcgetattr(pty->slave, &t) != 0)
        return true;
    return cfgetospeed(&t) != B0;
}
