#pragma once

#include <juce_core/juce_core.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef DEVICE_SIMULATOR_PATH
 #error "DEVICE_SIMULATOR_PATH is not defined: link the test executable with the simulator_process CMake target"
#endif

extern char** environ;

/** The device simulator (tools/device-simulator) as a child process of a test: starts it
    with the given arguments, gives the path of its pseudo-terminal, stops it. The
    simulator's standard error goes to the test's own. It is started with
    --exit-with-parent, so that a test that dies leaves no simulator behind. The
    executable's path comes from DEVICE_SIMULATOR_PATH, which the CMake target
    simulator_process defines. Linux only. */
class SimulatorProcess
{
public:
    SimulatorProcess() = default;
    ~SimulatorProcess() { stop(); }

    static juce::String getExecutablePath() { return DEVICE_SIMULATOR_PATH; }

    /** Starts the simulator and waits up to timeoutMs for the pty path it prints. Returns
        false when it could not be started, exited first (bad arguments, say) or printed
        nothing in time; then it is not running. Blocks. */
    bool start (const juce::StringArray& arguments, int timeoutMs = 10000)
    {
        stop();
        lastExitCode = -1;

        int output[2];

        if (::pipe2 (output, O_CLOEXEC) != 0)
            return false;

        std::vector<std::string> words { getExecutablePath().toStdString(), "--exit-with-parent" };

        for (auto& argument : arguments)
            words.push_back (argument.toStdString());

        std::vector<char*> argv;

        for (auto& word : words)
            argv.push_back (word.data());

        argv.push_back (nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init (&actions);
        posix_spawn_file_actions_adddup2 (&actions, output[1], STDOUT_FILENO);
        const int result = ::posix_spawn (&processId, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy (&actions);
        ::close (output[1]);

        if (result != 0)
        {
            ::close (output[0]);
            processId = -1;
            return false;
        }

        ptyPath = readLine (output[0], timeoutMs);
        ::close (output[0]);

        if (ptyPath.isEmpty())
        {
            stop (1000);
            return false;
        }

        return true;
    }

    /** The slave path, such as /dev/pts/7; empty when not started. */
    const juce::String& getPtyPath() const noexcept { return ptyPath; }

    pid_t getProcessId() const noexcept { return processId; }

    bool isRunning()
    {
        if (processId > 0)
            reap (false);

        return processId > 0;
    }

    /** The exit code of the last run that has ended (see waitForExit); -1 before that. */
    int getExitCode() const noexcept { return lastExitCode; }

    /** Waits up to timeoutMs for the simulator to end by itself. Returns its exit code
        (128 + the signal when a signal ended it), or -1 when it is still running. */
    int waitForExit (int timeoutMs)
    {
        const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;

        for (;;)
        {
            if (processId <= 0)
                return lastExitCode;

            const auto code = reap (false);

            if (code >= 0)
                return code;

            if (juce::Time::getMillisecondCounter() >= end)
                return -1;

            juce::Thread::sleep (10);
        }
    }

    /** Sends SIGTERM and waits up to timeoutMs, then kills it. Returns the exit code (see
        waitForExit); harmless when not running. */
    int stop (int timeoutMs = 10000)
    {
        if (processId <= 0)
            return lastExitCode;

        ::kill (processId, SIGTERM);
        const auto code = waitForExit (timeoutMs);

        if (code >= 0)
            return code;

        ::kill (processId, SIGKILL);
        return reap (true);
    }

private:
    /** Collects the child's exit. Returns its exit code, or -1 while it runs. */
    int reap (bool block)
    {
        int status = 0;
        const auto pid = ::waitpid (processId, &status, block ? 0 : WNOHANG);

        if (pid == 0)
            return -1;

        processId = -1;
        lastExitCode = pid < 0 ? -1 : WIFEXITED (status) ? WEXITSTATUS (status) : 128 + WTERMSIG (status);
        return lastExitCode;
    }

    static juce::String readLine (int fd, int timeoutMs)
    {
        const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;
        std::string line;

        for (;;)
        {
            const auto now = juce::Time::getMillisecondCounter();

            if (now >= end)
                return {};

            pollfd ready { fd, POLLIN, 0 };

            if (::poll (&ready, 1, (int) (end - now)) <= 0)
                continue;

            char c = 0;
            const auto n = ::read (fd, &c, 1);

            if (n < 0 && errno == EINTR)
                continue;

            if (n <= 0)
                return {};

            if (c == '\n')
                return juce::String (line);

            line += c;
        }
    }

    pid_t processId = -1;
    int lastExitCode = -1;
    juce::String ptyPath;

    JUCE_DECLARE_NON_COPYABLE (SimulatorProcess)
};
