#pragma once
// One run a folder, for runs a library holds: the lock the program takes on
// its working folder (the same lock file, the same refusal), taken on a
// folder named by the caller and held for as long as the holder lives, so
// that a program and a library run, or two library runs, never share one.

#include <string>

class Folder_Hold {
  public:
    Folder_Hold() = default;
    Folder_Hold(const Folder_Hold&) = delete;
    Folder_Hold& operator=(const Folder_Hold&) = delete;
    ~Folder_Hold() { Release(); }

    // Takes the lock of `folder`; where another run holds it, throws
    // Output_Error naming that run's process id and the remedy. A folder
    // that takes no lock file, or a file system without locks, is left
    // unlocked, as the program leaves it.
    void Take(const std::string& folder);

    // Removes the lock file and drops the lock.
    void Release();

  private:
    int fd_ = -1;
    std::string path_;
};
