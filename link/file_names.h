// File names as the layers above pass them. On Windows a narrow file name is spelled either in the
// system's ANSI code page (the dialog, whose file dialogs and environment give ANSI text) or in UTF-8
// (hnx-update, which reads its command line as UTF-16); either way the system is given UTF-16, so a
// name outside the code page survives where the front end can spell it. Elsewhere a file name is the
// bytes the system takes. Chosen at link time: platform_posix.cpp or platform_win32.cpp.
//
// The transfer library's path is not one of these: it is always UTF-8 (ProgramPath()).
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace hnx {

enum class FileNameEncoding { Ansi, Utf8 };

// Once at start-up, before any file is opened; Ansi until then. Only Windows spells names two ways.
void SetFileNameEncoding(FileNameEncoding encoding);

// Opens `name` for reading in binary mode, shared with other openers; nullptr when it cannot.
std::FILE* OpenForReading(const std::string& name);

// Opens `name` for appending in binary mode; nullptr when it cannot.
std::FILE* OpenForAppending(const std::string& name);

// The size of `file` when it is a regular file; nothing for a folder, a device or a pipe.
std::optional<std::uint64_t> RegularFileSize(std::FILE* file);

#if defined(_WIN32)
// `name` in UTF-16, for the system's wide functions.
std::wstring WideFileName(const std::string& name);
#endif

}  // namespace hnx
