// A pseudo-terminal for the serial port: the master side is the modem's, the slave side is linked at a path
// the user names. The host keeps a slave descriptor open itself, so the master never sees a hang-up while no
// program has the device open, and it reads the slave's settings to follow the baud rate (0 = DTR dropped).
#pragma once

#include <string>

struct HostPty {
    int master = -1;
    int slave = -1;
    std::string link_path;
    std::string slave_name;
};

// Opens the pair, puts the slave in raw mode and links it at `path` (an existing symbolic link there is
// replaced; any other file is an error). False with a message on failure.
bool HostPtyOpen(HostPty* pty, const std::string& path, std::string* error);
void HostPtyClose(HostPty* pty);
// True while the slave's baud rate is not 0.
bool HostPtyDtr(const HostPty* pty);
