// A server a test runs beside it: started with its standard output on a pipe,
// asked for the first line it prints (its port), and stopped when the test ends.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

namespace md::test {

class ServerProcess {
public:
    // Runs argv (argv[0] looked up on PATH); empty() when it could not start.
    explicit ServerProcess(const std::vector<std::string>& argv);
    ~ServerProcess();  // SIGTERM to the server's process group, then waits for it
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // The first line the server prints that starts with prefix, within timeoutMs; empty when none came.
    std::string WaitForLine(const std::string& prefix, int timeoutMs);

private:
    pid_t m_pid = -1;
    int m_out = -1;
    std::string m_pending;
};

// tests/input/fault_server.py serving tests/data, and its base URL ("http://127.0.0.1:PORT") in base;
// null (base empty) when python3 is missing or the server did not start.
std::unique_ptr<ServerProcess> StartFaultServer(std::string& base);

// The fault server a test suite shares: Start in SetUpTestSuite, Stop in TearDownTestSuite; base stays empty when it
// did not start.
struct SuiteFaultServer {
    std::unique_ptr<ServerProcess> process;
    std::string base;
    void Start() { process = StartFaultServer(base); }
    void Stop()
    {
        process.reset();
        base.clear();
    }
};

// Whether program is found on PATH.
bool OnPath(const std::string& program);

}  // namespace md::test
