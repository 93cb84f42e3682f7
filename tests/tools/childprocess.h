#pragma once

// Runs the tool binaries as child processes for the tests that drive them
// against each other.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

// A child process with its standard output and error on pipes. Every read
// waits on the pipe with a deadline, so a hung tool fails the test.
class Process
{
public:
    explicit Process(const std::vector<std::string>& args)
    {
        int out[2], err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
            return;
        pid = ::fork();
        if (pid == 0) {
            ::dup2(out[1], 1);
            ::dup2(err[1], 2);
            std::vector<char*> argv;
            for (const std::string& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(err[1]);
        streams[0].fd = out[0];
        streams[1].fd = err[0];
    }

    ~Process()
    {
        if (pid > 0 && !exited) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        for (Stream& s : streams)
            if (s.fd >= 0)
                ::close(s.fd);
    }

    bool started() const { return pid > 0; }

    // The next line of stdout (which 0) or stderr (1); false at the end of the
    // stream or when the deadline passes first.
    bool readLine(int which, std::string& line, double seconds = 10.0)
    {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        Stream& s = streams[which];
        for (;;) {
            const size_t end = s.pending.find('\n');
            if (end != std::string::npos) {
                line = s.pending.substr(0, end);
                s.pending.erase(0, end + 1);
                return true;
            }
            if (s.fd < 0)
                return false;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0)
                return false;
            pollfd p{s.fd, POLLIN, 0};
            if (::poll(&p, 1, int(left)) <= 0)
                continue;
            char chunk[65536];
            const ssize_t n = ::read(s.fd, chunk, sizeof chunk);
            if (n <= 0) {
                ::close(s.fd);
                s.fd = -1;
            } else {
                s.pending.append(chunk, size_t(n));
            }
        }
    }

    std::vector<std::string> readAllLines(int which, double seconds = 20.0)
    {
        std::vector<std::string> lines;
        std::string line;
        while (readLine(which, line, seconds))
            lines.push_back(line);
        return lines;
    }

    void signal(int number) { ::kill(pid, number); }

    // Drains both streams to their end (the process has exited or closed
    // them), then collects the exit status.
    int finish(double seconds = 20.0)
    {
        std::string line;
        while (readLine(1, line, seconds))
            errorText += line + "\n";
        int status = 0;
        if (::waitpid(pid, &status, 0) != pid)
            return -1;
        exited = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    std::string errorText;

private:
    struct Stream
    {
        int fd = -1;
        std::string pending;
    };
    pid_t pid = -1;
    bool exited = false;
    Stream streams[2];
};
