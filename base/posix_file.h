#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

// Writes all `size` bytes to `fd`, going on after an interrupted or short write. `*written`
// (when given) grows by what reached the file, also when it fails. False on an error, or on a
// write that makes no progress (errno is then ENOSPC), so a full device cannot make it spin.
bool WriteAll(int fd, const char* data, std::size_t size, off_t* written = nullptr);

// Makes a new or renamed directory entry durable: an fsync of the directory. Best effort: the
// entry is already in place, so a failure changes nothing for the caller.
void SyncDirectory(const std::string& directory);
