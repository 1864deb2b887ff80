#include "support/host_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace hostproc {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::string& path, const std::string& text, mode_t mode)
{
    std::ofstream(path, std::ios::binary) << text;
    chmod(path.c_str(), mode);
}

std::string SelfDir()
{
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return ".";
    std::string path(buffer, static_cast<size_t>(n));
    return path.substr(0, path.rfind('/'));
}

pid_t Spawn(const std::vector<std::string>& argv, const std::string& output)
{
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    const int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
        dup2(fd, 1);
        dup2(fd, 2);
    }
    const int null = open("/dev/null", O_RDONLY);
    if (null >= 0)
        dup2(null, 0);
    setpgid(0, 0);
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

int WaitExit(pid_t pid, int seconds)
{
    for (int i = 0; i < seconds * 20; ++i) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(-pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

void Stop(pid_t pid)
{
    if (pid <= 0)
        return;
    kill(-pid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(-pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

bool WaitForPaths(const std::vector<std::string>& paths, int ms)
{
    for (int waited = 0;; waited += 25) {
        bool all = true;
        for (const std::string& p : paths)
            all = all && access(p.c_str(), F_OK) == 0;
        if (all)
            return true;
        if (waited >= ms)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
}

}  // namespace hostproc
