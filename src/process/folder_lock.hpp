#pragma once
// One run a folder: the run holds an exclusive lock on the lock file of its
// working folder from before its first write to its end, so that a second
// run there is refused at once instead of overwriting the first one's files.
// The kernel drops the lock of a run that dies, whatever the signal, so a
// lock file left behind stands in no run's way.
#include <string>

inline constexpr const char* Lock_File_Name = ".cavity.lock";

// Takes the folder's lock, writing this process's id into the lock file.
// Where another run holds it, throws Output_Error naming that run's process
// id and the remedy. A folder that takes no lock file, or a file system
// without locks, leaves the run unlocked: it goes on as it always has, and
// fails where it writes if it cannot.
void Lock_Working_Folder();

// Removes the lock file and drops the lock, at the end of a run that holds it.
void Unlock_Working_Folder();

// The same from a signal handler (async-signal-safe): removes the lock file;
// the lock goes with the process.
void Unlock_Working_Folder_From_Signal();

// The process id written in a lock file's text, or "" where it holds none.
std::string Lock_Holder(const std::string& text);
