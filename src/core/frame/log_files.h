#pragma once

#include <string>

#include "frame/date_time.h"

class ConsoleScreenBuffer;

// Creates path with all missing parent folders; an error box and false on failure.
bool MakeDir(const std::string& path);
// Renames from to to, creating the target's folder; an error box and false on failure.
bool MoveFileTo(const std::string& from, const std::string& to);

// Moves file to its folder under the name part of target and runs the archiver there:
// "rar m -mc10t+ -ap<folder part of target> <archive> <name>". The archiver is looked up
// beside the executable, then on PATH; without it the renamed file stays where it is.
void ArchiveFileWithRar(const std::string& file, const std::string& target,
                        const std::string& archive);

// "2013/07_<long name of July>/15" and "9_5_3" for 15.07.2013 09:05:03.
std::string LogDateFolder(TDateTime dt);
std::string LogTimeName(TDateTime dt);

// Writes every non-empty row of the buffer (trailing blanks, tabs and NULs trimmed) as one
// UTF-8 line, truncating the file first.
void DumpConsoleBuffer(const ConsoleScreenBuffer& buffer, const std::string& path);

// The archiver program that ArchiveFileWithRar would run, or "" when there is none.
std::string FindArchiver();
