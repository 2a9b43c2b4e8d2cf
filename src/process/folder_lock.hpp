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
// id and the remedy; so too where the lock file cannot be made (a folder the
// user may not write in, a read-only file system), as the run could not
// write its results there either. A file system without locks leaves the
// run unlocked, with a warning.
void Lock_Working_Folder();

// Before the first step, in a folder the run holds: tries the temporary file
// of each result file as a report will make it (leftovers of a killed run
// removed, each created and removed again) and refuses a result file's name
// taken by a directory, so that a folder that would fail the first report
// fails before the run instead (Output_Error). Leaves no file behind.
void Check_Result_Files_Can_Be_Written();

// Removes the lock file and drops the lock, at the end of a run that holds it.
void Unlock_Working_Folder();

// The same from a signal handler (async-signal-safe): removes the lock file;
// the lock goes with the process.
void Unlock_Working_Folder_From_Signal();

// The process id written in a lock file's text, or "" where it holds none.
std::string Lock_Holder(const std::string& text);
