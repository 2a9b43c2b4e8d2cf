#pragma once
// A file replaced so that a crash of the machine (a power cut, a kernel
// panic) at any moment leaves it whole, old or new, with the one before it
// kept beside it.
#include "results/result_files.hpp"

#include <functional>
#include <string>

// Replaces `file` by what `write_text` writes: written to FILE.tmp and
// flushed to the disk, exchanged with FILE, the folder flushed, and only
// then the previous FILE (now at FILE.tmp) renamed to FILE.prev. Where the
// file system cannot exchange two names, FILE is linked as FILE.prev before
// FILE.tmp is renamed over it. A first FILE removes a FILE.prev left by an
// earlier run. Throws Output_Error naming the file.
void Replace_Durably(const std::string& file,
                     const std::function<void(const Text_Sink&)>& write_text);

// Flushes the entries of the folder holding `file` to the disk (renames
// into it, for one); false with errno set where that fails.
bool Flush_Folder_Of(const std::string& file);
