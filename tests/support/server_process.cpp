#include "support/server_process.h"

#include "support/files.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>

namespace md::test {

ServerProcess::ServerProcess(const std::vector<std::string>& argv)
{
    if (argv.empty())
        return;
    int fds[2];
    if (::pipe(fds) != 0)
        return;
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return;
    }
    if (pid == 0) {
        ::setpgid(0, 0);  // a group of its own, so that its children stop with it
        ::dup2(fds[1], STDOUT_FILENO);
        ::close(fds[0]);
        ::close(fds[1]);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    m_pid = pid;
    m_out = fds[0];
}

ServerProcess::~ServerProcess()
{
    if (m_pid > 0) {
        ::kill(-m_pid, SIGTERM);
        ::kill(m_pid, SIGTERM);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
    }
    if (m_out >= 0)
        ::close(m_out);
}

std::string ServerProcess::WaitForLine(const std::string& prefix, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (m_out >= 0) {
        for (size_t eol = m_pending.find('\n'); eol != std::string::npos; eol = m_pending.find('\n')) {
            std::string line = m_pending.substr(0, eol);
            m_pending.erase(0, eol + 1);
            if (line.rfind(prefix, 0) == 0)
                return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return {};
        pollfd p{m_out, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
            return {};
        char buffer[512];
        const ssize_t got = ::read(m_out, buffer, sizeof buffer);
        if (got <= 0)
            return {};
        if (m_pending.size() < 65536)
            m_pending.append(buffer, static_cast<size_t>(got));
    }
    return {};
}

std::unique_ptr<ServerProcess> StartFaultServer(std::string& base)
{
    base.clear();
    if (!OnPath("python3"))
        return nullptr;
    const std::filesystem::path script = TestDataDir().parent_path() / "input" / "fault_server.py";
    const std::vector<std::string> argv{"python3", script.string(), TestDataDir().string()};
    auto server = std::make_unique<ServerProcess>(argv);
    const std::string line = server->WaitForLine("PORT ", 10000);
    if (line.empty())
        return nullptr;
    base = "http://127.0.0.1:" + line.substr(5);
    return server;
}

bool OnPath(const std::string& program)
{
    return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace md::test
