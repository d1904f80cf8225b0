// The zelto program (ZELTO_PROGRAM) run as another process on a folder's
// data folder and state file: what a person runs in a second terminal. Its
// standard output and error come through one pipe, read by a thread of its
// own as they arrive, so that a caller can wait for a line and then act.
#pragma once

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cwchar>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/PlatformExtras.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace apptest {

class ChildZelto {
 public:
  // `environment` holds NAME=value lines added to this process's own.
  ChildZelto(const std::filesystem::path& folder, const std::vector<std::string>& args,
             const std::vector<std::string>& environment = {}) {
    std::vector<std::string> full{ZELTO_PROGRAM, "--data-folder",
                                  zelto::platform::Utf8FromPath(folder / "data"), "--state-file",
                                  zelto::platform::Utf8FromPath(folder / "state.json")};
    full.insert(full.end(), args.begin(), args.end());
    if (Spawn(full, environment)) reader = std::thread([this] { ReadToTheEnd(); });
  }
  ~ChildZelto() {
    if (Started() && !status) {
      Kill();
      Reap();
    }
    if (reader.joinable()) reader.join();
#ifdef _WIN32
    if (process) CloseHandle(process);
#endif
  }
  ChildZelto(const ChildZelto&) = delete;
  ChildZelto& operator=(const ChildZelto&) = delete;

  bool Started() const { return pid > 0; }
  long Pid() const { return pid; }

  // Ends the process outright: SIGKILL, or TerminateProcess on Windows.
  void Kill() {
    killed = true;
#ifdef _WIN32
    TerminateProcess(process, kKilledCode);
#else
    kill(static_cast<pid_t>(pid), SIGKILL);
#endif
  }
#ifndef _WIN32
  void Signal(int signal) { kill(static_cast<pid_t>(pid), signal); }
#endif

  // Waits until the output holds `part`, the child closes it, or a minute passes.
  bool WaitFor(const std::string& part) {
    std::unique_lock lock(mutex);
    arrived.wait_for(lock, std::chrono::seconds(60), [&] { return ended || seen.find(part) != std::string::npos; });
    return seen.find(part) != std::string::npos;
  }
  // Whether the child has closed its output (it has ended, or is ending).
  bool Ended() {
    std::lock_guard lock(mutex);
    return ended;
  }
  // Reads to the end and waits for the child: its exit status, or -1 when it
  // was killed or a minute passed first.
  int Finish() {
    {
      std::unique_lock lock(mutex);
      arrived.wait_for(lock, std::chrono::seconds(60), [&] { return ended; });
    }
    if (!status && !Reap()) return -1;
    return *status;
  }
  // Everything it printed so far.
  std::string Output() {
    std::lock_guard lock(mutex);
    return seen;
  }

 private:
#ifdef _WIN32
  static constexpr UINT kKilledCode = 0xDEAD;

  // One argument as the C run-time's parser reads it back.
  static std::wstring Quoted(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
    std::wstring out = L"\"";
    std::size_t slashes = 0;
    for (wchar_t c : arg) {
      if (c == L'\\') {
        ++slashes;
        continue;
      }
      out.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
      slashes = 0;
      out += c;
    }
    out.append(slashes * 2, L'\\');
    return out + L"\"";
  }

  bool Spawn(const std::vector<std::string>& args, const std::vector<std::string>& environment) {
    std::wstring line;
    for (const std::string& arg : args) line += (line.empty() ? L"" : L" ") + Quoted(zelto::platform::FromUtf8(arg));
    std::wstring block;
    for (const std::string& v : environment) block += zelto::platform::FromUtf8(v) + L'\0';
    if (wchar_t* own = GetEnvironmentStringsW()) {
      for (const wchar_t* v = own; *v != L'\0'; v += wcslen(v) + 1) block += std::wstring(v) + L'\0';
      FreeEnvironmentStringsW(own);
    }
    block += L'\0';
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return false;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = INVALID_HANDLE_VALUE;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION info{};
    // Detached: no console at all, its output only the pipe. Given a
    // console of its own (CREATE_NO_WINDOW), under Wine the child gets a
    // console host that inherits this process's standard handles and can
    // outlive a child killed early, holding the test runner's pipe open.
    const BOOL made = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
                                     CREATE_UNICODE_ENVIRONMENT | DETACHED_PROCESS, block.data(), nullptr, &startup,
                                     &info);
    CloseHandle(writeEnd);
    if (!made) {
      CloseHandle(readEnd);
      return false;
    }
    CloseHandle(info.hThread);
    process = info.hProcess;
    pid = static_cast<long>(info.dwProcessId);
    output = readEnd;
    return true;
  }

  // False where the output ended. The output ends with the process, not
  // with the pipe: a process the child starts may hold its end of the pipe
  // for ever (under Wine, the desktop that its first window brings up), so
  // a read waits only for what is there, and on the process meanwhile.
  bool ReadSome(char* buffer, std::size_t size, std::size_t* got) {
    for (;;) {
      DWORD available = 0;
      if (!PeekNamedPipe(output, nullptr, 0, nullptr, &available, nullptr)) return false;
      if (available > 0) {
        DWORD read = 0;
        if (!ReadFile(output, buffer, static_cast<DWORD>(std::min<std::size_t>(size, available)), &read, nullptr) ||
            read == 0)
          return false;
        *got = read;
        return true;
      }
      // Everything a process wrote is in the pipe before it counts as ended.
      if (WaitForSingleObject(process, 20) == WAIT_OBJECT_0 &&
          (!PeekNamedPipe(output, nullptr, 0, nullptr, &available, nullptr) || available == 0))
        return false;
    }
  }
  void CloseOutput() { CloseHandle(output); }

  bool Reap() {
    if (WaitForSingleObject(process, 60'000) != WAIT_OBJECT_0) return false;
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    status = killed && code == kKilledCode ? -1 : static_cast<int>(code);
    return true;
  }

  HANDLE process = nullptr;
  HANDLE output = nullptr;
#else
  bool Spawn(std::vector<std::string> args, const std::vector<std::string>& environment) {
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> variables = environment;
    for (char** v = environ; *v != nullptr; ++v) variables.push_back(*v);
    std::vector<char*> envp;
    for (std::string& v : variables) envp.push_back(v.data());
    envp.push_back(nullptr);
    int ends[2];
    if (pipe(ends) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
    posix_spawn_file_actions_adddup2(&actions, ends[1], 2);
    posix_spawn_file_actions_addclose(&actions, ends[0]);
    pid_t child = -1;
    const bool made = posix_spawn(&child, ZELTO_PROGRAM, &actions, nullptr, argv.data(), envp.data()) == 0;
    posix_spawn_file_actions_destroy(&actions);
    close(ends[1]);
    if (!made) {
      close(ends[0]);
      return false;
    }
    pid = child;
    output = ends[0];
    return true;
  }

  bool ReadSome(char* buffer, std::size_t size, std::size_t* got) {
    for (;;) {
      const ssize_t read = ::read(output, buffer, size);
      if (read < 0 && errno == EINTR) continue;
      if (read <= 0) return false;
      *got = static_cast<std::size_t>(read);
      return true;
    }
  }
  void CloseOutput() { close(output); }

  // A child that has closed its output or was killed is waited for; one
  // still running is not.
  bool Reap() {
    int raw = 0;
    const bool over = killed || Ended();
    if (waitpid(static_cast<pid_t>(pid), &raw, over ? 0 : WNOHANG) != static_cast<pid_t>(pid)) return false;
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return true;
  }

  int output = -1;
#endif

  void ReadToTheEnd() {
    char buffer[4096];
    std::size_t got = 0;
    while (ReadSome(buffer, sizeof buffer, &got)) {
      std::lock_guard lock(mutex);
      seen.append(buffer, got);
      arrived.notify_all();
    }
    CloseOutput();
    std::lock_guard lock(mutex);
    ended = true;
    arrived.notify_all();
  }

  long pid = -1;
  bool killed = false;
  std::optional<int> status;
  std::thread reader;
  std::mutex mutex;
  std::condition_variable arrived;
  std::string seen;
  bool ended = false;
};

}  // namespace apptest
